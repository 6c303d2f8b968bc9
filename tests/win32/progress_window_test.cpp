#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <string>

#include "engine/language.h"
#include "resources/resource_ids.h"
#include "ui/progress_window.h"
#include "ui/progress_window_win.h"

namespace {

std::wstring TextOf(HWND dialog, int id) {
  wchar_t text[512] = {};
  GetDlgItemTextW(dialog, id, text, 512);
  return text;
}

int BarPosition(HWND dialog, int id) {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog, id), PBM_GETPOS, 0, 0));
}

bool EventExists(const char* name) {
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (event) CloseHandle(event);
  return event != nullptr;
}

// Asks the window's thread for an answer from a third thread.
DWORD WINAPI PingWindow(LPVOID window) {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(static_cast<HWND>(window), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &answer) ? 1
                                                                                                        : 0;
}

// Counts the texts and bar positions the controls of the window receive, by
// subclassing them for the lifetime of this object.
class SentCounter {
 public:
  explicit SentCounter(HWND dialog) {
    for (int id :
         {IDC_STATUS, IDC_CURRENT_FILE, IDC_CURRENT_PERCENT, IDC_OVERALL_PERCENT, IDC_CURRENT_BAR, IDC_OVERALL_BAR}) {
      HWND control = GetDlgItem(dialog, id);
      previous_[control] = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SentCounter::Count)));
    }
    Instance() = this;
  }
  ~SentCounter() {
    for (const auto& [control, procedure] : previous_)
      SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    Instance() = nullptr;
  }
  SentCounter(const SentCounter&) = delete;
  SentCounter& operator=(const SentCounter&) = delete;

  // Texts and positions received since the last call.
  int Take() { return received_.exchange(0); }

 private:
  static SentCounter*& Instance() {
    static SentCounter* instance = nullptr;
    return instance;
  }
  static LRESULT CALLBACK Count(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
    SentCounter* self = Instance();
    if (message == WM_SETTEXT || message == PBM_SETPOS) ++self->received_;
    return CallWindowProcW(self->previous_.at(control), control, message, wparam, lparam);
  }

  std::map<HWND, WNDPROC> previous_;
  std::atomic<int> received_{0};
};

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CurrentLanguage() = 1033;
    CreateProgressWindow();
    ASSERT_NE(ProgressWindowSlot().load(), nullptr);
    dialog_ = ProgressWindowSlot().load()->dialog;
  }
  void TearDown() override {
    if (ProgressWindowSlot().load()) CloseProgressWindow();
  }
  HWND dialog_ = nullptr;
};

TEST_F(ProgressWindowTest, DialogIsBuiltFromTheTemplate) {
  ASSERT_TRUE(IsWindow(dialog_));
  EXPECT_FALSE(IsWindowVisible(dialog_));
  const LONG style = GetWindowLongW(dialog_, GWL_STYLE);
  const LONG ex_style = GetWindowLongW(dialog_, GWL_EXSTYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_FALSE(style & WS_SYSMENU);  // no close box
  EXPECT_TRUE(ex_style & WS_EX_TOPMOST);
  EXPECT_TRUE(ex_style & WS_EX_APPWINDOW);
  wchar_t caption[64] = {};
  GetWindowTextW(dialog_, caption, 64);
  EXPECT_STREQ(caption, L"Quarrytide");
  EXPECT_EQ(TextOf(dialog_, IDC_STATUS), L"Status");
  EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_FILE), L"Current file");
  EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_PERCENT), L"0%");
  EXPECT_EQ(TextOf(dialog_, IDC_OVERALL_PERCENT), L"0%");
  // The window lives on a thread of its own.
  EXPECT_NE(GetWindowThreadProcessId(dialog_, nullptr), GetCurrentThreadId());
  for (int bar : {IDC_CURRENT_BAR, IDC_OVERALL_BAR}) {
    HWND control = GetDlgItem(dialog_, bar);
    ASSERT_TRUE(control) << bar;
    wchar_t name[64] = {};
    GetClassNameW(control, name, 64);
    EXPECT_STREQ(name, L"msctls_progress32");
    EXPECT_EQ(SendMessageW(control, PBM_GETRANGE, TRUE, 0), 0);     // low limit
    EXPECT_EQ(SendMessageW(control, PBM_GETRANGE, FALSE, 0), 100);  // high limit
  }
  // Status line above the current file, the bars below, percentages right.
  RECT status, file, current, overall, percent;
  GetWindowRect(GetDlgItem(dialog_, IDC_STATUS), &status);
  GetWindowRect(GetDlgItem(dialog_, IDC_CURRENT_FILE), &file);
  GetWindowRect(GetDlgItem(dialog_, IDC_CURRENT_BAR), &current);
  GetWindowRect(GetDlgItem(dialog_, IDC_OVERALL_BAR), &overall);
  GetWindowRect(GetDlgItem(dialog_, IDC_CURRENT_PERCENT), &percent);
  EXPECT_LT(status.top, file.top);
  EXPECT_LT(file.top, current.top);
  EXPECT_LT(current.top, overall.top);
  EXPECT_GT(percent.left, current.right);
}

TEST_F(ProgressWindowTest, FractionsAreClampedAndRounded) {
  struct Case {
    float fraction;
    const wchar_t* label;
    int bar;
  };
  const Case cases[] = {{-0.5f, L"0%", 0},    {7.0f, L"100%", 100}, {0.996f, L"100%", 99}, {0.5f, L"50%", 50},
                        {0.423f, L"42%", 42}, {NAN, L"0%", 0},      {1.0f, L"100%", 100}};
  for (const Case& c : cases) {
    SetCurrentProgress(c.fraction);
    EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_PERCENT), c.label) << c.fraction;
    EXPECT_EQ(BarPosition(dialog_, IDC_CURRENT_BAR), c.bar) << c.fraction;
    SetOverallProgress(c.fraction);
    EXPECT_EQ(TextOf(dialog_, IDC_OVERALL_PERCENT), c.label) << c.fraction;
    EXPECT_EQ(BarPosition(dialog_, IDC_OVERALL_BAR), c.bar) << c.fraction;
  }
  SetOverallProgress(0.25f);
  EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_PERCENT), L"100%");  // the other bar kept its state
}

// Each call sends only what the window does not show yet, and the window
// shows exactly what every call asked for.
TEST_F(ProgressWindowTest, OnlyChangedValuesAreSent) {
  struct Step {
    const char* what;
    bool (*call)();  // returns what the setter says it sent
    int sent;        // texts and positions the controls receive
    const wchar_t *file, *label;
    int bar;
  };
  const Step steps[] = {
      {"first path", [] { return SetCurrentFileText(u"C:\\Q\\a.dat"); }, 1, L"C:\\Q\\a.dat", L"0%", 0},
      {"same path", [] { return SetCurrentFileText(u"C:\\Q\\a.dat"); }, 0, L"C:\\Q\\a.dat", L"0%", 0},
      {"first fraction", [] { return SetCurrentProgress(0.25f); }, 2, L"C:\\Q\\a.dat", L"25%", 25},
      {"same label and bar", [] { return SetCurrentProgress(0.252f); }, 0, L"C:\\Q\\a.dat", L"25%", 25},
      {"label only", [] { return SetCurrentProgress(0.256f); }, 1, L"C:\\Q\\a.dat", L"26%", 25},
      {"label and bar", [] { return SetCurrentProgress(0.996f); }, 2, L"C:\\Q\\a.dat", L"100%", 99},
      {"bar only", [] { return SetCurrentProgress(1.0f); }, 1, L"C:\\Q\\a.dat", L"100%", 100},
      {"other path", [] { return SetCurrentFileText(u"C:\\Q\\b.dat"); }, 1, L"C:\\Q\\b.dat", L"100%", 100},
      {"empty path", [] { return SetCurrentFileText(u""); }, 1, L"", L"100%", 100},
      {"status twice",
       [] {
         SetStatusText(u"Installing:");
         SetStatusText(u"Installing:");
         return true;
       },
       1, L"", L"100%", 100},
  };
  SentCounter counter(dialog_);
  for (const Step& step : steps) {
    // What a setter says it sent decides whether the update pauses.
    EXPECT_EQ(step.call(), step.sent > 0) << step.what;
    EXPECT_EQ(counter.Take(), step.sent) << step.what;
    EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_FILE), step.file) << step.what;
    EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_PERCENT), step.label) << step.what;
    EXPECT_EQ(BarPosition(dialog_, IDC_CURRENT_BAR), step.bar) << step.what;
  }
  EXPECT_EQ(TextOf(dialog_, IDC_STATUS), L"Installing:");
  EXPECT_EQ(TextOf(dialog_, IDC_OVERALL_PERCENT), L"0%");  // never set: the template's text
}

// A new window starts from its template whatever the last one showed: the
// values the closing left (empty file line, overall 100%) are sent again.
TEST_F(ProgressWindowTest, ANewWindowIsSentEveryValue) {
  CloseProgressWindow();
  CreateProgressWindow();
  dialog_ = ProgressWindowSlot().load()->dialog;
  SetCurrentFileText(u"");
  SetOverallProgress(1.0f);
  EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_FILE), L"");
  EXPECT_EQ(TextOf(dialog_, IDC_OVERALL_PERCENT), L"100%");
  EXPECT_EQ(BarPosition(dialog_, IDC_OVERALL_BAR), 100);
}

TEST_F(ProgressWindowTest, TextsAreSetBeforeTheCallReturns) {
  SetStatusText(u"\u0418\u043d\u0441\u0442\u0430\u043b\u044f\u0446\u0438\u044f:");
  SetCurrentFileText(u"C:\\Games\\Quarrytide\\data\\qtr.exe");
  EXPECT_EQ(TextOf(dialog_, IDC_STATUS), L"\u0418\u043d\u0441\u0442\u0430\u043b\u044f\u0446\u0438\u044f:");
  EXPECT_EQ(TextOf(dialog_, IDC_CURRENT_FILE), L"C:\\Games\\Quarrytide\\data\\qtr.exe");
}

TEST_F(ProgressWindowTest, UserCannotCloseIt) {
  ShowWindow(dialog_, SW_SHOWNORMAL);
  SendMessageW(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(dialog_, WM_CLOSE, 0, 0);
  SendMessageW(dialog_, WM_COMMAND, IDCANCEL, 0);
  PostMessageW(dialog_, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageW(dialog_, WM_KEYUP, VK_ESCAPE, 0);
  SetStatusText(u"still here");  // a synchronous round trip after the posted keys
  EXPECT_TRUE(IsWindow(dialog_));
  EXPECT_TRUE(IsWindowVisible(dialog_));
  EXPECT_EQ(TextOf(dialog_, IDC_STATUS), L"still here");
}

TEST_F(ProgressWindowTest, CloseEndsTheThreadAndReleasesEverything) {
  EXPECT_TRUE(EventExists("MorrowWindowEvent1"));
  EXPECT_TRUE(EventExists("MorrowWindowEvent2"));
  EXPECT_TRUE(EventExists("MorrowWindowEvent3"));
  DWORD thread_id = GetWindowThreadProcessId(dialog_, nullptr);
  HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, thread_id);
  ASSERT_TRUE(thread);
  CloseProgressWindow();  // returns although no message reaches the loop after the stop request
  EXPECT_FALSE(IsWindow(dialog_));
  EXPECT_EQ(ProgressWindowSlot().load(), nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_FALSE(EventExists("MorrowWindowEvent1"));
  EXPECT_FALSE(EventExists("MorrowWindowEvent2"));
  EXPECT_FALSE(EventExists("MorrowWindowEvent3"));
}

TEST_F(ProgressWindowTest, KeepsRepaintingWhileTheMainThreadIsBusy) {
  ShowWindow(dialog_, SW_SHOWNORMAL);
  // The main thread blocks here; the UI thread must still answer.
  HANDLE waiter = CreateThread(nullptr, 0, PingWindow, dialog_, 0, nullptr);
  ASSERT_TRUE(waiter);
  EXPECT_EQ(WaitForSingleObject(waiter, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(waiter, &code);
  CloseHandle(waiter);
  EXPECT_EQ(code, 1u);
}

}  // namespace
