#pragma once
// The progress window's record and slot, for the Win32 code that needs the
// dialog itself: the driver (caption, show) and the message boxes (owner).
#include <windows.h>

#include <atomic>

struct ProgressWindow {
  HWND dialog = nullptr;
  HWND currentBar = nullptr;  // bar 300, current file
  HWND overallBar = nullptr;  // bar 301, whole patch
  // The text controls, looked up once: finding a control by its id is a
  // round trip to the window system under Wine (about 0.2 ms), paid on
  // every text sent otherwise.
  HWND status = nullptr;          // 304
  HWND currentFile = nullptr;     // 302
  HWND currentPercent = nullptr;  // 303
  HWND overallPercent = nullptr;  // 305
};

// Set by the UI thread before it signals ready, cleared by it after the stop
// request; empty while no window exists.
std::atomic<ProgressWindow*>& ProgressWindowSlot();

// The UI thread's procedure and the dialog procedure (handles nothing, so
// close requests are ignored).
DWORD WINAPI ProgressWindowThread(LPVOID);
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
