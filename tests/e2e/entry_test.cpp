// The patcher's entry: a readable manifest lets the run go on, a broken or
// missing one ends in the one internal-error box and exit code -1.
#include <gtest/gtest.h>

#include "tests/e2e/scenario.h"

namespace {

constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;

void ExpectInternalErrorOnly(const RunRecord& run) {
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, kInternalErrorExit);
  ASSERT_EQ(run.boxes.size(), 1u) << ToJsonLines(run);
  const BoxRecord& box = run.boxes[0];
  EXPECT_EQ(box.caption, L"Error!");
  EXPECT_EQ(box.text, L"An internal error has occured.");
  EXPECT_EQ(box.icon, "error");
  EXPECT_TRUE(box.topmost);
  EXPECT_FALSE(box.owned);
  ASSERT_EQ(box.buttons.size(), 1u);
  EXPECT_EQ(box.buttons[0].id, kOk);
  EXPECT_EQ(box.buttons[0].label, L"Ok");
  EXPECT_TRUE(run.progress.empty()) << "no progress window before the manifest is read";
}

TEST(Entry, ValidManifestRunsUpToTheStartQuestion) {
  // No to the start question ends the run normally, before the installation
  // is looked at, so no registry values are needed.
  const RunRecord run = RunProgram(WindowsPath(QTR_PROGRAM_E2E_PATCH_VALID), {{kNo, nullptr}});
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0u) << ToJsonLines(run);
  ASSERT_EQ(run.boxes.size(), 1u) << ToJsonLines(run);
  const BoxRecord& question = run.boxes[0];
  EXPECT_EQ(question.caption, L"Quarrytide");
  EXPECT_EQ(question.icon, "warning");
  ASSERT_EQ(question.buttons.size(), 2u);
  EXPECT_EQ(question.buttons[0].id, kYes);
  EXPECT_EQ(question.buttons[1].id, kNo);
  EXPECT_TRUE(question.owned);
  EXPECT_EQ(question.owner_caption, L"Quarrytide: PATCH 1.00 -> 1.01");
  // The progress window was up, shown and on top, when the question came.
  ASSERT_FALSE(run.progress.empty());
  EXPECT_LT(run.progress.front().order, question.order);
  bool shown_on_top = false;
  for (const ProgressRecord& state : run.progress) {
    if (state.order < question.order && state.visible && state.topmost) shown_on_top = true;
  }
  EXPECT_TRUE(shown_on_top) << ToJsonLines(run);
  EXPECT_EQ(run.progress_windows_at_exit, 0);
}

TEST(Entry, MissingManifestResourceShowsInternalError) {
  ExpectInternalErrorOnly(RunProgram(WindowsPath(QTR_PROGRAM_E2E_PATCH_NO_MANIFEST)));
}

TEST(Entry, ManifestWithoutPatchElementShowsInternalError) {
  ExpectInternalErrorOnly(RunProgram(WindowsPath(QTR_PROGRAM_E2E_PATCH_NO_PATCH_ELEMENT)));
}

TEST(Entry, RegistryLocationWithoutValueShowsInternalError) {
  ExpectInternalErrorOnly(RunProgram(WindowsPath(QTR_PROGRAM_E2E_PATCH_REG_PATH_WITHOUT_VALUE)));
}

TEST(Entry, EmptyManifestResourceShowsInternalError) {
  ExpectInternalErrorOnly(RunProgram(WindowsPath(QTR_PROGRAM_E2E_PATCH_EMPTY_MANIFEST)));
}

// Two threads reaching the ending together: the first shows the box, the
// second waits on the fatal-error lock and dies with the process.
void ExpectOneBoxFromTwoThreads(const wchar_t* mode) {
  const RunRecord run = RunProgram(WindowsPath(QTR_PROGRAM_FATAL_TWICE), {}, mode);
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, kInternalErrorExit) << ToJsonLines(run);
  ASSERT_EQ(run.boxes.size(), 1u) << ToJsonLines(run);
  EXPECT_EQ(run.boxes[0].caption, L"Error!");
  EXPECT_EQ(run.boxes[0].text, L"An internal error has occured.");
}

TEST(InternalErrorEnding, TwoThreadsTakingItShowOneBox) { ExpectOneBoxFromTwoThreads(L"take"); }

TEST(InternalErrorEnding, UncaughtExceptionAndFaultTogetherShowOneBox) { ExpectOneBoxFromTwoThreads(L"mixed"); }

}  // namespace
