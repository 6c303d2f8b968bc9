// fatal_twice.exe take|mixed
// Two threads, released together by one event, reach the internal-error
// ending at the same moment: "take" calls it directly on both, "mixed" lets
// one thread throw an exception nobody catches and the other write through a
// null pointer. The process must show one box and end with exit code -1.
#include <windows.h>

#include <shellapi.h>

#include <stdexcept>
#include <string>

#include "engine/patch_main.h"

namespace {

HANDLE release_event = nullptr;

DWORD WINAPI TakeEnding(void*) {
  WaitForSingleObject(release_event, INFINITE);
  TakeInternalErrorEnding();
}

DWORD WINAPI ThrowUncaught(void*) {
  WaitForSingleObject(release_event, INFINITE);
  throw std::runtime_error("nobody catches this");
}

DWORD WINAPI WriteThroughNull(void*) {
  WaitForSingleObject(release_event, INFINITE);
  int* volatile target = nullptr;
  *target = 1;
  return 0;
}

std::wstring Mode() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::wstring mode = argv != nullptr && argc > 1 ? argv[1] : L"";
  LocalFree(argv);
  return mode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::wstring mode = Mode();
  LPTHREAD_START_ROUTINE first = TakeEnding, second = TakeEnding;
  if (mode == L"mixed") {
    first = ThrowUncaught;
    second = WriteThroughNull;
  } else if (mode != L"take") {
    return 2;
  }
  InstallInternalErrorHandlers();
  release_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[2] = {CreateThread(nullptr, 0, first, nullptr, 0, nullptr),
                       CreateThread(nullptr, 0, second, nullptr, 0, nullptr)};
  if (release_event == nullptr || threads[0] == nullptr || threads[1] == nullptr) return 3;
  // Let both threads reach their wait before releasing them together.
  Sleep(50);
  SetEvent(release_event);
  WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  // Only reached if neither thread ended the process.
  return 0;
}
