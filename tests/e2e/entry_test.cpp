// The patcher's entry: a readable manifest lets the run go on, a broken or
// missing one ends in the one internal-error box and exit code -1.
#include <gtest/gtest.h>

#include "tests/e2e/scenario.h"

namespace {

constexpr int kOk = 1;
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
  EXPECT_FALSE(box.owned);
  ASSERT_EQ(box.buttons.size(), 1u);
  EXPECT_EQ(box.buttons[0].id, kOk);
  EXPECT_TRUE(run.progress.empty()) << "no progress window before the manifest is read";
}

TEST(Entry, ValidManifestRunsWithoutInternalError) {
  // Answer No to the start question, should the run get that far: the run
  // then ends normally before touching the installation.
  const RunRecord run = RunProgram(WindowsPath(QTR_PROGRAM_E2E_PATCH_VALID), {{kNo, nullptr}});
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0u) << ToJsonLines(run);
  for (const BoxRecord& box : run.boxes) {
    EXPECT_NE(box.caption, L"Error!");
    EXPECT_NE(box.icon, "error") << ToJsonLines(run);
  }
  // At most the start question is asked; No ends the run.
  EXPECT_LE(run.boxes.size(), 1u) << ToJsonLines(run);
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
