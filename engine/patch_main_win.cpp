#include <windows.h>

#include <mmsystem.h>

#include "engine/patch_main.h"

#include <exception>

#include "engine/system_dlls_win.h"
#include "ui/message_box.h"

namespace {

// Created during program start-up, before any thread but the main one runs,
// and deleted at normal process end.
class FatalErrorLock {
 public:
  FatalErrorLock() { InitializeCriticalSectionAndSpinCount(&section_, 4000); }
  ~FatalErrorLock() { DeleteCriticalSection(&section_); }
  FatalErrorLock(const FatalErrorLock&) = delete;
  FatalErrorLock& operator=(const FatalErrorLock&) = delete;
  void Take() { EnterCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

FatalErrorLock fatal_error_lock;

// Every progress update pauses 1 ms, and Sleep lasts until the next timer
// tick: 15.6 ms at Windows' default resolution. The run raises it to 1 ms
// and lowers it again before the process ends normally. The internal-error
// ending terminates the process without this destructor; the system drops
// the timer requests of a process that has ended.
class RunTimerResolution {
 public:
  RunTimerResolution() : raised_(Call("timeBeginPeriod")) {}
  ~RunTimerResolution() {
    if (raised_) Call("timeEndPeriod");
  }
  RunTimerResolution(const RunTimerResolution&) = delete;
  RunTimerResolution& operator=(const RunTimerResolution&) = delete;

 private:
  // WINMM is no KnownDLL: it comes from System32, loaded at run time.
  static bool Call(const char* name) {
    const auto period = SystemProcedure<MMRESULT(WINAPI*)(UINT)>(L"winmm.dll", name);
    return period != nullptr && period(1) == TIMERR_NOERROR;
  }

  const bool raised_;
};

// An exception nobody caught (on any thread, or thrown while unwinding)
// reaches the same ending instead of the runtime's abort message.
[[noreturn]] void TerminateHandler() { TakeInternalErrorEnding(); }

}  // namespace

void TakeInternalErrorEnding() {
  fatal_error_lock.Take();
  ShowInternalError();
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(-1));
  for (;;) Sleep(INFINITE);
}

LONG WINAPI InternalErrorFilter(EXCEPTION_POINTERS*) { TakeInternalErrorEnding(); }

LastChanceFilter InstallInternalErrorHandlers() {
  std::set_terminate(TerminateHandler);
  return SetUnhandledExceptionFilter(InternalErrorFilter);
}

int PatchMain() {
  const LastChanceFilter previous = InstallInternalErrorHandlers();
  {
    const RunTimerResolution resolution;
    try {
      RunPatch();
    } catch (...) {
      TakeInternalErrorEnding();
    }
  }
  SetUnhandledExceptionFilter(previous);
  return 0;
}
