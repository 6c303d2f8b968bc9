#include "files/preflight.h"

#include <vector>

#include "tests/win32/file_entry_fixture_win.h"

namespace file_entry_test {
namespace {

using Preflight = ScratchDirectory;

std::vector<uint64_t> ChildTotals(const ProgressReporter* node) {
  std::vector<uint64_t> totals;
  for (const ProgressReporter* child : node->children) totals.push_back(child->total());
  return totals;
}

FilePatch UpdatedEntry(const Preflight& test, const char* size, const char* size_org) {
  FilePatch entry = test.Entry(Updated, u"\\", u"qtr.exe");
  entry.size = size;
  entry.size_org = size_org;
  entry.crc = "465b9463";
  entry.crc_org = "f14ead6d";
  entry.comp = true;
  entry.comp_size = "700";
  entry.diff = true;
  entry.diff_size = "900";
  return entry;
}

TEST_F(Preflight, UpdatedEntryAtThePatchedSizeGetsACrcNodeAndAllStagesInOrder) {
  Write(u"qtr.exe", std::string(1500, 'x'));
  ProgressReporter root(nullptr, WideText());
  FilePatch entry = UpdatedEntry(*this, "1500", "1200");
  ASSERT_TRUE(PreflightFilePatch(entry, &root));
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0], entry.entry_progress);
  EXPECT_EQ(entry.entry_progress->name, Path(u"qtr.exe"));
  EXPECT_EQ(entry.entry_progress->total(), 0u);
  EXPECT_EQ(ChildTotals(entry.entry_progress), (std::vector<uint64_t>{1500, 900, 700, 1500}));
  ASSERT_NE(entry.crc_progress, nullptr);
  EXPECT_EQ(entry.entry_progress->children[0], entry.crc_progress);
  EXPECT_EQ(entry.entry_progress->children[1], entry.payload_progress);
  EXPECT_EQ(entry.entry_progress->children[2], entry.packed_progress);
  EXPECT_EQ(entry.entry_progress->children[3], entry.diff_progress);
  EXPECT_EQ(TotalBytes(root), 4600u);
}

TEST_F(Preflight, UpdatedEntryAtTheUnpatchedSizeNeedsNoCrc) {
  Write(u"qtr.exe", std::string(1200, 'x'));
  ProgressReporter root(nullptr, WideText());
  FilePatch entry = UpdatedEntry(*this, "1500", "1200");
  ASSERT_TRUE(PreflightFilePatch(entry, &root));
  EXPECT_EQ(entry.crc_progress, nullptr);
  EXPECT_EQ(ChildTotals(entry.entry_progress), (std::vector<uint64_t>{900, 700, 1500}));

  FilePatch whole = UpdatedEntry(*this, "1500", "1200");
  whole.diff = false;
  whole.comp = false;
  ASSERT_TRUE(PreflightFilePatch(whole, &root));
  EXPECT_EQ(whole.diff_progress, nullptr);
  EXPECT_EQ(whole.packed_progress, nullptr);
  EXPECT_EQ(ChildTotals(whole.entry_progress), std::vector<uint64_t>{1500});
  EXPECT_EQ(root.children.size(), 2u);
}

TEST_F(Preflight, UpdatedEntryOfAnyOtherSizeOrMissingOrHeldFails) {
  ProgressReporter root(nullptr, WideText());
  FilePatch missing = UpdatedEntry(*this, "1500", "1200");
  EXPECT_FALSE(PreflightFilePatch(missing, &root));

  Write(u"qtr.exe", std::string(1201, 'x'));
  FilePatch other = UpdatedEntry(*this, "1500", "1200");
  EXPECT_FALSE(PreflightFilePatch(other, &root));
  EXPECT_EQ(Read(u"qtr.exe"), std::string(1201, 'x'));

  Write(u"qtr.exe", std::string(1200, 'x'));
  HeldOpen held(Path(u"qtr.exe"));
  ASSERT_TRUE(held.held());
  FilePatch locked = UpdatedEntry(*this, "1500", "1200");
  EXPECT_FALSE(PreflightFilePatch(locked, &root));
}

TEST_F(Preflight, EqualSizesAlwaysTakeTheCrcNode) {
  Write(u"qtr.exe", std::string(1200, 'x'));
  ProgressReporter root(nullptr, WideText());
  FilePatch entry = UpdatedEntry(*this, "1200", "1200");
  ASSERT_TRUE(PreflightFilePatch(entry, &root));
  ASSERT_NE(entry.crc_progress, nullptr);
  EXPECT_EQ(entry.crc_progress->total(), 1200u);
}

TEST_F(Preflight, AddedEntryRemovesAStandingTargetAndPassesAgain) {
  Write(u"bundles\\patch.bundle", "stale");
  ProgressReporter root(nullptr, WideText());
  FilePatch entry = Entry(Added, u"\\bundles\\", u"patch.bundle");
  entry.size = "28853";
  entry.comp = true;
  entry.comp_size = "9913";
  ASSERT_TRUE(PreflightFilePatch(entry, &root));
  EXPECT_FALSE(Exists(u"bundles\\patch.bundle"));
  EXPECT_TRUE(Exists(u"bundles"));
  EXPECT_EQ(entry.entry_progress->name, Path(u"bundles\\patch.bundle"));
  EXPECT_EQ(ChildTotals(entry.entry_progress), (std::vector<uint64_t>{28853, 9913}));
  EXPECT_EQ(entry.crc_progress, nullptr);
  EXPECT_EQ(entry.diff_progress, nullptr);
  EXPECT_TRUE(PreflightFilePatch(entry, &root));
}

TEST_F(Preflight, AddedEntryWhoseTargetCannotBeRemovedFails) {
  Write(u"a.txt", "in use");
  HeldOpen held(Path(u"a.txt"));
  ASSERT_TRUE(held.held());
  ProgressReporter root(nullptr, WideText());
  FilePatch entry = Entry(Added, u"\\", u"a.txt");
  entry.size = "3";
  EXPECT_FALSE(PreflightFilePatch(entry, &root));
}

TEST_F(Preflight, DeletedEntriesPassWithOneEmptyNodeEach) {
  Write(u"old.txt", "x");
  ProgressReporter root(nullptr, WideText());
  FilePatch present = Entry(Deleted, u"\\", u"old.txt");
  FilePatch absent = Entry(Deleted, u"\\gone\\", u"never.txt");
  EXPECT_TRUE(PreflightFilePatch(present, &root));
  EXPECT_TRUE(PreflightFilePatch(absent, &root));
  EXPECT_TRUE(Exists(u"old.txt"));
  EXPECT_EQ(root.children.size(), 2u);
  EXPECT_TRUE(present.entry_progress->children.empty());
  EXPECT_EQ(TotalBytes(root), 0u);
  EXPECT_EQ(absent.entry_progress->name, Path(u"gone\\never.txt"));
}

}  // namespace
}  // namespace file_entry_test
