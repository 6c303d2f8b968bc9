#pragma once
// Finds the message boxes this process shows, records them the way a user
// sees them and answers them from a second thread, so that tests can call
// the blocking box operations directly.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct SeenBox {
  std::wstring caption;
  std::wstring text;
  std::vector<std::pair<int, std::wstring>> buttons;  // id and label
  bool topmost = false;
  HWND owner = nullptr;
};

class BoxWatcher {
 public:
  // `answer` gets each box in turn and returns the id of the button to press.
  explicit BoxWatcher(std::function<int(const SeenBox&, int index)> answer)
      : answer_(std::move(answer)), thread_([this] { Run(); }) {}
  ~BoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // Valid once the box operation under test has returned.
  const std::vector<SeenBox>& boxes() const { return boxes_; }

 private:
  static std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
  }

  // A message box: a dialog of this process with the static text control.
  static BOOL CALLBACK TestWindow(HWND window, LPARAM data) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == GetCurrentProcessId() && std::wstring(name) == L"#32770" && IsWindowVisible(window) &&
        GetDlgItem(window, 0xFFFF)) {
      *reinterpret_cast<HWND*>(data) = window;
      return FALSE;
    }
    return TRUE;
  }

  static HWND FindBox() {
    HWND found = nullptr;
    EnumWindows(TestWindow, reinterpret_cast<LPARAM>(&found));
    return found;
  }

  void Run() {
    HWND last = nullptr;
    while (!stop_) {
      HWND box = FindBox();
      if (!box || box == last) {
        Sleep(20);
        continue;
      }
      Sleep(100);  // let the activation hook relabel the buttons
      SeenBox seen;
      seen.caption = TextOf(box);
      seen.text = TextOf(GetDlgItem(box, 0xFFFF));
      for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (std::wstring(name) == L"Button") seen.buttons.emplace_back(GetDlgCtrlID(child), TextOf(child));
      }
      seen.topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      seen.owner = GetWindow(box, GW_OWNER);
      boxes_.push_back(seen);
      const int button = answer_(seen, static_cast<int>(boxes_.size()) - 1);
      last = box;
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    }
  }

  std::function<int(const SeenBox&, int)> answer_;
  std::vector<SeenBox> boxes_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
