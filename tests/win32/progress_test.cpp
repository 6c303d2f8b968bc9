// UpdateProgress: which entry's path and bars the progress display receives.
#include <gtest/gtest.h>

#include "tests/win32/progress_recorder_win.h"
#include "ui/progress_tree.h"

namespace {

TEST(UpdateProgress, StageShowsItsEntryAndTheWholePatch) {
  ProgressRecorder recorder;
  ProgressReporter root(0, nullptr);
  RootReporterSlot() = &root;
  ProgressReporter first(&root, u"C:\\Games\\Quarrytide\\first.dat");
  ProgressReporter first_stage(300, &first);
  ProgressReporter second(&root, u"C:\\Games\\Quarrytide\\second.dat");
  ProgressReporter second_stage(1000, &second);
  SetDoneCapped(second_stage, 250);
  UpdateProgress(&second_stage);
  RootReporterSlot() = nullptr;

  const auto& log = ProgressRecorder::Log();
  ASSERT_EQ(3u, log.size());
  EXPECT_EQ('f', log[0].kind);
  EXPECT_EQ(u"C:\\Games\\Quarrytide\\second.dat", log[0].text);
  EXPECT_EQ('c', log[1].kind);
  EXPECT_FLOAT_EQ(0.25f, log[1].fraction);
  EXPECT_EQ('o', log[2].kind);
  EXPECT_FLOAT_EQ(250.0f / 1300.0f, log[2].fraction);
}

TEST(UpdateProgress, CompletedEntryCountsWhollyInTheOverallBar) {
  ProgressRecorder recorder;
  ProgressReporter root(0, nullptr);
  RootReporterSlot() = &root;
  ProgressReporter first(&root, u"a");
  ProgressReporter first_stage(300, &first);
  ProgressReporter second(&root, u"b");
  ProgressReporter second_stage(100, &second);
  MarkComplete(second);
  UpdateProgress(&second);
  RootReporterSlot() = nullptr;
  ASSERT_EQ(3u, ProgressRecorder::Log().size());
  EXPECT_FLOAT_EQ(1.0f, ProgressRecorder::Log()[1].fraction);
  EXPECT_FLOAT_EQ(0.25f, ProgressRecorder::Log()[2].fraction);
}

TEST(UpdateProgress, WithoutRootOnlyTheCurrentFileChanges) {
  ProgressRecorder recorder;
  ProgressReporter entry(nullptr, u"D:\\x.bin");
  ProgressReporter stage(10, &entry);
  SetDoneCapped(stage, 5);
  UpdateProgress(&stage);
  ASSERT_EQ(2u, ProgressRecorder::Log().size());
  EXPECT_EQ(u"D:\\x.bin", ProgressRecorder::Log()[0].text);
  EXPECT_FLOAT_EQ(0.5f, ProgressRecorder::Log()[1].fraction);
}

TEST(UpdateProgress, NothingShownWithoutANamedNode) {
  ProgressRecorder recorder;
  ProgressReporter root(0, nullptr);
  RootReporterSlot() = &root;
  ProgressReporter stage(10, &root);
  UpdateProgress(&root);
  UpdateProgress(&stage);
  UpdateProgress(nullptr);
  RootReporterSlot() = nullptr;
  EXPECT_TRUE(ProgressRecorder::Log().empty());
}

}  // namespace
