#include "ui/progress_window_win.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/internal_error.h"
#include "engine/language.h"
#include "engine/patch_main.h"
#include "engine/strings.h"
#include "engine/system_dlls_win.h"
#include "files/win_text_win.h"
#include "resources/resource_ids.h"
#include "ui/progress_window.h"

namespace {

// Manual-reset, created non-signalled, each signalled once.
HANDLE ready_event = nullptr;  // "MorrowWindowEvent1": dialog exists, slot set
HANDLE stop_event = nullptr;   // "MorrowWindowEvent2": the UI thread is to end
HANDLE ended_event = nullptr;  // "MorrowWindowEvent3": loop left, slot cleared

// What the main thread last sent to each control of the current window.
// Every send is synchronous and repaints, and most progress updates change
// only one bar, so a value a control already shows is not sent again.
// Cleared when a window is created: its controls then show the template's
// values, and whatever the run sets first is sent over them.
template <class Value>
struct Shown {
  bool known = false;
  Value value{};
};
struct ShownValues {
  Shown<WideText> status, current_file;
  Shown<std::string> current_label, overall_label;
  Shown<int> current_bar, overall_bar;
};
ShownValues shown;

// Whether `value` must be sent to the control `shown_value` stands for;
// records it as shown when it must.
template <class Value>
bool NeedsSending(Shown<Value>& shown_value, const Value& value) {
  if (shown_value.known && shown_value.value == value) return false;
  shown_value.known = true;
  shown_value.value = value;
  return true;
}

bool SetFraction(HWND bar, HWND label_control, Shown<std::string>& label_shown, Shown<int>& bar_shown,
                 float fraction) {
  if (!(fraction >= 0.0f)) fraction = 0.0f;  // also a NaN
  if (fraction > 1.0f) fraction = 1.0f;
  const float percent = fraction * 100.0f;
  char label[16];
  std::snprintf(label, sizeof label, "%.0f%%", static_cast<double>(percent));
  bool sent = false;
  if (NeedsSending(label_shown, std::string(label))) {
    SetWindowTextA(label_control, label);
    sent = true;
  }
  const int position = static_cast<int>(percent);
  if (NeedsSending(bar_shown, position)) {
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    sent = true;
  }
  return sent;
}

void BuildDialog(ProgressWindow& window) {
  window.dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                     ProgressDialogProc, 0);
  if (!window.dialog) RaiseInternalError("Cannot create GUI");
  window.overallBar = GetDlgItem(window.dialog, IDC_OVERALL_BAR);
  window.currentBar = GetDlgItem(window.dialog, IDC_CURRENT_BAR);
  window.status = GetDlgItem(window.dialog, IDC_STATUS);
  window.currentFile = GetDlgItem(window.dialog, IDC_CURRENT_FILE);
  window.currentPercent = GetDlgItem(window.dialog, IDC_CURRENT_PERCENT);
  window.overallPercent = GetDlgItem(window.dialog, IDC_OVERALL_PERCENT);
  for (HWND bar : {window.overallBar, window.currentBar}) {
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
  }
}

// Waits on the queue and the stop request together, so that a stop request
// ends the loop even when no message arrives after it.
void RunMessageLoop(HWND dialog) {
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &stop_event, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_FAILED) return;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      if (IsWindow(dialog) && IsDialogMessageW(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (WaitForSingleObject(stop_event, 0) == WAIT_OBJECT_0) return;
  }
}

}  // namespace

std::atomic<ProgressWindow*>& ProgressWindowSlot() {
  static std::atomic<ProgressWindow*> slot{nullptr};
  return slot;
}

INT_PTR CALLBACK ProgressDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

DWORD WINAPI ProgressWindowThread(LPVOID) {
  try {
    auto window = std::make_unique<ProgressWindow>();
    ProgressWindowSlot().store(window.get());
    BuildDialog(*window);
    SetEvent(ready_event);
    RunMessageLoop(window->dialog);
    // Destroyed here rather than with the thread, so that no window is left
    // once the ended event is seen.
    DestroyWindow(window->dialog);
    ProgressWindowSlot().store(nullptr);
    window.reset();
    SetEvent(ended_event);
  } catch (...) {
    TakeInternalErrorEnding();
  }
  return 0;
}

void CreateProgressWindow() {
  // COMCTL32 is loaded at run time: imported, it would be resolved with its
  // own imports before the process could limit where DLLs come from.
  const auto initControls =
      SystemProcedure<BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*)>(L"comctl32.dll", "InitCommonControlsEx");
  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  if (initControls == nullptr || !initControls(&controls)) RaiseInternalError("Cannot create GUI");
  shown = ShownValues();
  ready_event = CreateEventA(nullptr, TRUE, FALSE, "MorrowWindowEvent1");
  stop_event = CreateEventA(nullptr, TRUE, FALSE, "MorrowWindowEvent2");
  ended_event = CreateEventA(nullptr, TRUE, FALSE, "MorrowWindowEvent3");
  HANDLE thread = CreateThread(nullptr, 0, ProgressWindowThread, nullptr, 0, nullptr);
  // Without a thread nobody would ever signal ready.
  if (!thread || !ready_event || !stop_event || !ended_event) RaiseInternalError("Cannot create GUI");
  CloseHandle(thread);
  WaitForSingleObject(ready_event, INFINITE);
}

void CloseProgressWindow() {
  if (!ended_event) return;
  SetStatusText(LoadLocalizedString(CurrentLanguage(), IDS_STATUS_EXITING));
  SetCurrentFileText(WideText());
  SetOverallProgress(1.0f);
  SetEvent(stop_event);
  WaitForSingleObject(ended_event, INFINITE);
  for (HANDLE* event : {&ready_event, &stop_event, &ended_event}) {
    CloseHandle(*event);
    *event = nullptr;
  }
}

void SetStatusText(const WideText& text) {
  const ProgressWindow* window = ProgressWindowSlot().load();
  if (window && NeedsSending(shown.status, text)) SetWindowTextW(window->status, WinText(text));
}

bool SetCurrentFileText(const WideText& text) {
  const ProgressWindow* window = ProgressWindowSlot().load();
  if (!window || !NeedsSending(shown.current_file, text)) return false;
  SetWindowTextW(window->currentFile, WinText(text));
  return true;
}

bool SetCurrentProgress(float fraction) {
  const ProgressWindow* window = ProgressWindowSlot().load();
  return window &&
         SetFraction(window->currentBar, window->currentPercent, shown.current_label, shown.current_bar, fraction);
}

bool SetOverallProgress(float fraction) {
  const ProgressWindow* window = ProgressWindowSlot().load();
  return window &&
         SetFraction(window->overallBar, window->overallPercent, shown.overall_label, shown.overall_bar, fraction);
}
