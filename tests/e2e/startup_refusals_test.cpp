// Every refusal of the start-up checks, run by the real patcher under Wine:
// the one box it shows, its exit code, and nothing changed on disk or in the
// registry.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/startup_helpers.h"

namespace startup {
namespace {

// Yes to the start question, then OK on the final box.
RunRecord RunAccepting(const std::wstring& patcher = Patcher()) {
  return RunProgram(patcher, {{kYes, nullptr}});
}

void ExpectRefusal(const Installation& installation, const RunRecord& run, const std::wstring& caption,
                   const std::wstring& text, const char* icon, const std::wstring& owner = kEnglishCaption) {
  ExpectOrdinaryEnd(run);
  ASSERT_EQ(run.boxes.size(), 2u) << ToJsonLines(run);
  EXPECT_EQ(run.boxes[0].caption, L"Quarrytide");
  ExpectFinalBox(run.boxes[1], caption, text, icon, L"Ok", owner);
  installation.ExpectUnchanged();
}

const wchar_t kCorrupted[] = L"Your game installation is corrupted. Please reinstall the game.";
const wchar_t kAlreadyInstalled[] =
    L"This patch is already installed on your system. Installation will abort.";
const wchar_t kTooOld[] =
    L"The game version is too old for this patch. Ensure you have installed all previous patches and retry. "
    L"Installation will abort.";
const wchar_t kNewer[] =
    L"The game version is higher than the version you are trying to install. Installation will abort.";

TEST(StartupRefusals, SecondCopyIsRefusedWhileTheFirstAsks) {
  Installation installation(L"1.00");
  RunRecord second;
  const RunRecord first = RunProgram(Patcher(), {{kNo, [&second] { second = RunProgram(Patcher()); }}});
  ExpectOrdinaryEnd(second);
  ASSERT_EQ(second.boxes.size(), 1u) << ToJsonLines(second);
  const BoxRecord& box = second.boxes[0];
  EXPECT_EQ(box.caption, L"Error!");
  EXPECT_EQ(box.text, L"The patch is already being executed.");
  EXPECT_EQ(box.icon, "error");
  EXPECT_EQ(ButtonsOf(box), (Buttons{{kOk, L"Ok"}}));
  EXPECT_TRUE(box.topmost);
  EXPECT_FALSE(box.owned);
  EXPECT_TRUE(second.progress.empty()) << "the second copy opens no window";
  // The first copy kept its question and ended on its own answer.
  ExpectOrdinaryEnd(first);
  ASSERT_EQ(first.boxes.size(), 1u) << ToJsonLines(first);
  ExpectStartQuestion(first.boxes[0]);
  installation.ExpectUnchanged();
}

TEST(StartupRefusals, NoAtTheStartQuestionChangesNothing) {
  Installation installation(L"1.00");
  const RunRecord run = RunProgram(Patcher(), {{kNo, nullptr}});
  ExpectOrdinaryEnd(run);
  ASSERT_EQ(run.boxes.size(), 1u) << ToJsonLines(run);
  ExpectStartQuestion(run.boxes[0]);
  installation.ExpectUnchanged();
}

TEST(StartupRefusals, RunningGameAsksUntilItHasQuit) {
  Installation installation(L"1.01");
  SampleGame game;
  ASSERT_TRUE(game.running());
  const RunRecord run =
      RunProgram(Patcher(), {{kYes, nullptr}, {kRetry, nullptr}, {kRetry, [&game] { game.Quit(); }}});
  ExpectOrdinaryEnd(run);
  // Question, two game boxes, then the run went on to the version check.
  ASSERT_EQ(run.boxes.size(), 4u) << ToJsonLines(run);
  for (int i : {1, 2}) {
    const BoxRecord& box = run.boxes[i];
    EXPECT_EQ(box.caption, L"Error!");
    EXPECT_EQ(box.text, L"QTR is running. You need to quit it in order to install this patch.");
    EXPECT_EQ(box.icon, "error");
    EXPECT_EQ(ButtonsOf(box), (Buttons{{kRetry, L"Retry"}, {kCancel, L"Cancel"}}));
    EXPECT_TRUE(box.owned);
    EXPECT_EQ(box.owner_caption, kEnglishCaption);
    // The patcher's own pause before each question, not a speed figure.
    EXPECT_GE(box.ms - run.boxes[i - 1].ms, 1900u) << ToJsonLines(run);
  }
  ExpectFinalBox(run.boxes[3], L"Success!", kAlreadyInstalled, "information", L"Ok", kEnglishCaption);
  installation.ExpectUnchanged();
}

TEST(StartupRefusals, CancelWhileTheGameRunsEndsTheRun) {
  Installation installation(L"1.00");
  SampleGame game;
  ASSERT_TRUE(game.running());
  const RunRecord run = RunProgram(Patcher(), {{kYes, nullptr}, {kCancel, nullptr}});
  ExpectOrdinaryEnd(run);
  ASSERT_EQ(run.boxes.size(), 2u) << ToJsonLines(run);
  EXPECT_EQ(run.boxes[1].text, L"QTR is running. You need to quit it in order to install this patch.");
  EXPECT_TRUE(game.running());
  installation.ExpectUnchanged();
}

TEST(StartupRefusals, MissingInstallDirMeansNotInstalled) {
  Installation installation(L"1.00");
  installation.SetValue(L"InstallDir", L"");
  ExpectRefusal(installation, RunAccepting(), L"Error!", L"The game is not installed on your computer!",
                "error");
}

TEST(StartupRefusals, MissingDirectoryIsAnInvalidPath) {
  Installation installation(L"1.00");
  installation.SetValue(L"InstallDir", installation.tree().root() + L"\\gone");
  ExpectRefusal(installation, RunAccepting(), L"Error!",
                L"The installation path is not valid. Please reinstall the game.", "error");
}

TEST(StartupRefusals, UnreadableVersionsAreACorruptedInstallation) {
  for (const wchar_t* version : {L"", L"0.0", L"abc"}) {
    SCOPED_TRACE(testing::Message() << "version \"" << std::string(version, version + wcslen(version))
                                    << "\"");
    Installation installation(version);
    if (!*version) installation.SetValue(L"Version", L"");
    ExpectRefusal(installation, RunAccepting(), L"Error!", kCorrupted, "error");
  }
}

TEST(StartupRefusals, TargetVersionIsAlreadyInstalled) {
  for (const wchar_t* version : {L"1.01", L"1.1"}) {
    Installation installation(version);
    ExpectRefusal(installation, RunAccepting(), L"Success!", kAlreadyInstalled, "information");
  }
}

TEST(StartupRefusals, HigherVersionIsRefused) {
  for (const wchar_t* version : {L"1.02", L"2.0"}) {
    Installation installation(version);
    ExpectRefusal(installation, RunAccepting(), L"Error!", kNewer, "information");
  }
}

TEST(StartupRefusals, OlderVersionIsRefused) {
  Installation installation(L"0.9");
  ExpectRefusal(installation, RunAccepting(), L"Error!", kTooOld, "information");
}

TEST(StartupRefusals, VersionBetweenFromAndToIsRefused) {
  // 1.005 reads as minor 5: between 1.00 and 1.10.
  Installation installation(L"1.005");
  ExpectRefusal(installation, RunAccepting(WindowsPath(QTR_PROGRAM_E2E_PATCH_TO_1_10)), L"Error!", kTooOld,
                "information", L"Quarrytide: PATCH 1.00 -> 1.10");
}

}  // namespace
}  // namespace startup
