#include <windows.h>

#include "engine/instance_guard.h"
#include "engine/strings.h"
#include "ui/message_box.h"

namespace {

// Opens (or creates) the named mutex; `existed` tells whether the name was
// there before.
HANDLE CreateNamedMutex(const char* name, bool& existed) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  existed = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
  return mutex;
}

}  // namespace

bool AcquirePatcherGuard() {
  bool existed = false;
  HANDLE guard = CreateNamedMutex("Global\\MorrowPatch", existed);
  if (existed) {
    ShowMessage(IDS_CAPTION_ERROR, IDS_ALREADY_RUNNING, kErrorStyle);
    CloseHandle(guard);
    return false;
  }
  // Held until the process ends.
  return true;
}

bool EnsureGameNotRunning(unsigned pause_ms) {
  int answer = kButtonRetry;
  for (;;) {
    bool existed = false;
    HANDLE probe = CreateNamedMutex("Local\\QTR", existed);
    if (probe) CloseHandle(probe);
    if (!existed) break;
    if (answer != kButtonRetry) return false;
    Sleep(pause_ms);
    answer = ShowMessage(IDS_CAPTION_ERROR, IDS_GAME_RUNNING, kRetryStyle) == kButtonRetry ? kButtonRetry
                                                                                           : kButtonCancel;
  }
  // Held until the process ends, so that a game started during the patch
  // finds its names taken.
  CreateMutexA(nullptr, FALSE, "Local\\QTR");
  CreateMutexA(nullptr, FALSE, "Global\\QTR");
  return answer == kButtonRetry;
}
