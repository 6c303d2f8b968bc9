#include <windows.h>

#include "engine/patch_main.h"
#include "engine/system_dlls_win.h"

// The command line is never read: the patch carries everything it needs.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HardenProcess();
  return PatchMain();
}
