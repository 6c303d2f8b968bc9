#pragma once
// The process entry's logic and the one internal-error ending.

// Installs the last-chance handlers, runs the patch with the system timer at
// 1 ms resolution (restored afterwards) and takes the internal-error ending
// for any exception that leaves it. Returns 0.
int PatchMain();

// The run: start-up checks, then the patch phases.
void RunPatch();

// Takes the fatal-error lock (never released), shows the fixed internal-error
// box and ends the process at once with exit code -1. A second thread that
// arrives here waits until the process is gone, so only one box is shown.
[[noreturn]] void TakeInternalErrorEnding();

// The process-wide unhandled-exception filter: a fault or an uncaught
// exception on any thread takes the internal-error ending.
long __stdcall InternalErrorFilter(struct _EXCEPTION_POINTERS* info);

using LastChanceFilter = long(__stdcall*)(struct _EXCEPTION_POINTERS* info);

// Routes uncaught C++ exceptions (std::terminate) and the unhandled-exception
// filter to the internal-error ending; returns the filter it replaced.
LastChanceFilter InstallInternalErrorHandlers();
