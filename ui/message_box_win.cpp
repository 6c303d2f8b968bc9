#include "ui/message_box_win.h"

#include "engine/language.h"
#include "engine/strings.h"
#include "files/win_text_win.h"
#include "ui/message_box.h"
#include "ui/progress_window_win.h"

namespace {

// The most recently installed button hook. At most one box is open at a
// time, because each box blocks the thread that shows it.
HHOOK hook_slot = nullptr;
// The style of the box the hook is waiting for.
unsigned hooked_style = 0;

struct ButtonLabel {
  int button;
  int text_id;
};

constexpr ButtonLabel kButtonLabels[] = {
    {kButtonOk, IDS_BUTTON_OK}, {kButtonCancel, IDS_BUTTON_CANCEL}, {kButtonRetry, IDS_BUTTON_RETRY},
    {kButtonNo, IDS_BUTTON_NO}, {kButtonYes, IDS_BUTTON_YES},
};

HWND BoxOwner() {
  const ProgressWindow* window = ProgressWindowSlot().load();
  return window ? window->dialog : nullptr;
}

int ShowHookedBox(HWND owner, const wchar_t* text, const wchar_t* caption, unsigned style) {
  hooked_style = style;
  hook_slot = SetWindowsHookExA(WH_CBT, ButtonTextHook, nullptr, GetCurrentThreadId());
  return MessageBoxW(owner, text, caption, style);
}

}  // namespace

LRESULT CALLBACK ButtonTextHook(int code, WPARAM window, LPARAM data) {
  if (code == HCBT_ACTIVATE) {
    // The window being activated is the box just created.
    try {
      const uint16_t language = CurrentLanguage();
      const HWND box = reinterpret_cast<HWND>(window);
      for (const ButtonLabel& label : kButtonLabels) {
        if (HWND button = GetDlgItem(box, label.button)) {
          SetWindowTextW(button, WinText(LoadLocalizedString(language, label.text_id)));
        }
      }
    } catch (...) {
      // Out of memory for a label: the box keeps the platform's labels.
    }
    // Some platforms ignore the topmost flag of a box; error and notice
    // boxes must stay above every other window.
    if (hooked_style & MB_TOPMOST) {
      SetWindowPos(reinterpret_cast<HWND>(window), HWND_TOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    UnhookWindowsHookEx(hook_slot);
    return 0;
  }
  CallNextHookEx(hook_slot, code, window, data);
  return 0;
}

int ShowMessage(int caption_id, int text_id, unsigned style) {
  const uint16_t language = CurrentLanguage();
  const WideText caption = LoadLocalizedString(language, caption_id);
  const WideText text = LoadLocalizedString(language, text_id);
  return ShowHookedBox(BoxOwner(), WinText(text), WinText(caption), style);
}

int ConfirmStart(const WideText& caption) {
  const WideText text = LoadLocalizedString(CurrentLanguage(), IDS_CONFIRM_START);
  return ShowHookedBox(BoxOwner(), WinText(text), WinText(caption), kQuestionStyle);
}

void ShowInternalError() {
  ShowHookedBox(nullptr, L"An internal error has occured.", L"Error!", kErrorStyle);
}
