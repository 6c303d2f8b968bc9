#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cmath>
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
