#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/instance_guard.h"
#include "engine/language.h"
#include "engine/strings.h"
#include "tests/win32/box_watcher.h"
#include "ui/message_box.h"

namespace {

bool MutexExists(const char* name) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
  if (mutex) CloseHandle(mutex);
  return mutex != nullptr;
}

// The sample game in its own process, holding "Local\QTR" while it runs.
class SampleGame {
 public:
  SampleGame() {
    std::string path = QTR_SAMPLE_GAME;
    for (char& c : path) c = c == '/' ? '\\' : c;
    std::string command = "\"Z:" + path + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
      return;
    }
    for (int i = 0; i < 500 && !MutexExists("Local\\QTR"); ++i) Sleep(20);
  }
  ~SampleGame() { Quit(); }
  bool running() const { return process_.hProcess && MutexExists("Local\\QTR"); }
  void Quit() {
    if (!process_.hProcess) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
  }

 private:
  PROCESS_INFORMATION process_ = {};
};

TEST(InstanceGuard, SecondPatcherIsRefused) {
  CurrentLanguage() = 1033;
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonOk; });
  EXPECT_TRUE(AcquirePatcherGuard());
  EXPECT_TRUE(watcher.boxes().empty());
  EXPECT_TRUE(MutexExists("Global\\MorrowPatch"));
  // The guard is held, so a second attempt sees the name taken.
  EXPECT_FALSE(AcquirePatcherGuard());
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_EQ(watcher.boxes()[0].caption, L"Error!");
  EXPECT_EQ(watcher.boxes()[0].text, L"The patch is already being executed.");
  EXPECT_EQ(watcher.boxes()[0].owner, nullptr);
  EXPECT_TRUE(watcher.boxes()[0].topmost);
  EXPECT_TRUE(MutexExists("Global\\MorrowPatch"));  // the first handle still holds it
}

TEST(InstanceGuard, NoGameTakesBothNames) {
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonCancel; });
  EXPECT_TRUE(EnsureGameNotRunning(10));
  EXPECT_TRUE(watcher.boxes().empty());
  EXPECT_TRUE(MutexExists("Local\\QTR"));
  EXPECT_TRUE(MutexExists("Global\\QTR"));
}

TEST(InstanceGuard, CancelWhileTheGameRunsLeavesTheNamesUntaken) {
  CurrentLanguage() = 1031;
  SampleGame game;
  ASSERT_TRUE(game.running());
  BoxWatcher watcher([](const SeenBox&, int) { return kButtonCancel; });
  EXPECT_FALSE(EnsureGameNotRunning(10));
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_EQ(watcher.boxes()[0].caption, L"Fehler!");
  EXPECT_EQ(watcher.boxes()[0].buttons, (std::vector<std::pair<int, std::wstring>>{
                                            {kButtonRetry, L"Wiederholen"}, {kButtonCancel, L"Abbrechen"}}));
  EXPECT_FALSE(watcher.boxes()[0].topmost);
  game.Quit();
  EXPECT_FALSE(MutexExists("Local\\QTR"));
  EXPECT_FALSE(MutexExists("Global\\QTR"));
}

TEST(InstanceGuard, RetryAsksAgainUntilTheGameHasQuit) {
  CurrentLanguage() = 1033;
  SampleGame game;
  ASSERT_TRUE(game.running());
  BoxWatcher watcher([&game](const SeenBox&, int index) {
    if (index == 1) game.Quit();  // the user quits the game, then presses Retry
    return kButtonRetry;
  });
  EXPECT_TRUE(EnsureGameNotRunning(10));
  ASSERT_EQ(watcher.boxes().size(), 2u);
  EXPECT_EQ(watcher.boxes()[1].text, L"QTR is running. You need to quit it in order to install this patch.");
  EXPECT_TRUE(MutexExists("Local\\QTR"));
  EXPECT_TRUE(MutexExists("Global\\QTR"));
}

TEST(InstanceGuard, CancelAfterTheGameQuitStillTakesTheNames) {
  SampleGame game;
  ASSERT_TRUE(game.running());
  BoxWatcher watcher([&game](const SeenBox&, int) {
    game.Quit();
    return kButtonCancel;
  });
  EXPECT_FALSE(EnsureGameNotRunning(10));
  EXPECT_EQ(watcher.boxes().size(), 1u);
  EXPECT_TRUE(MutexExists("Local\\QTR"));
  EXPECT_TRUE(MutexExists("Global\\QTR"));
}

TEST(InstanceGuard, WaitsBeforeAskingWhileTheGameRuns) {
  SampleGame game;
  ASSERT_TRUE(game.running());
  const DWORD start = GetTickCount();
  DWORD asked = 0;
  BoxWatcher watcher([&](const SeenBox&, int) {
    asked = GetTickCount();
    return kButtonCancel;
  });
  EXPECT_FALSE(EnsureGameNotRunning());
  ASSERT_EQ(watcher.boxes().size(), 1u);
  EXPECT_GE(asked - start, 1900u);  // the pause before the question, not a speed figure
}

}  // namespace
