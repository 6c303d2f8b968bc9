#include <windows.h>

#include "engine/patch_main.h"

// The command line is never read: the patch carries everything it needs.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return PatchMain(); }
