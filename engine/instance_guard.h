#pragma once
// Keeps a second patcher and the running game away from the installation,
// through named mutexes that are held until the process ends.

// Creates "Global\MorrowPatch". When another patcher already holds it, shows
// box 203/204 (no owner), closes the handle and returns false: the run ends.
// A failed creation lets the run go on without the guard.
bool AcquirePatcherGuard();

// Pause before each question while the game runs.
constexpr unsigned kGameRunningPauseMs = 2000;

// True when the game ("Local\QTR" held by another process) does not run, at
// once or after Retry; false after Cancel. While it runs: pause, then box
// 203/205 with Retry and Cancel, owned by the progress window. Once the
// name is free the patcher takes "Local\QTR" and "Global\QTR" for itself,
// even after Cancel.
bool EnsureGameNotRunning(unsigned pause_ms = kGameRunningPauseMs);
