// The progress tree's sums and fractions, as the two bars show them.
#include <gtest/gtest.h>

#include "ui/progress_tree.h"

namespace {

TEST(ProgressTree, NodesJoinTheirParentInOrder) {
  ProgressReporter root(0, nullptr);
  ProgressReporter entry(&root, u"C:\\Game\\a.dat");
  ProgressReporter crc(10, &entry);
  ProgressReporter payload(20, &entry);
  ASSERT_EQ(1u, root.children.size());
  EXPECT_EQ(&entry, root.children[0]);
  ASSERT_EQ(2u, entry.children.size());
  EXPECT_EQ(&crc, entry.children[0]);
  EXPECT_EQ(&payload, entry.children[1]);
  EXPECT_EQ(0u, entry.total());
  EXPECT_EQ(0u, crc.done());
  EXPECT_EQ(30u, TotalBytes(root));
}

TEST(ProgressTree, FractionOfAnEntryAndOfTheWholePatch) {
  ProgressReporter root(0, nullptr);
  ProgressReporter first(&root, u"first");
  ProgressReporter first_stage(300, &first);
  ProgressReporter second(&root, u"second");
  ProgressReporter second_stage(1000, &second);
  SetDoneCapped(second_stage, 250);
  EXPECT_FLOAT_EQ(0.25f, Fraction(second));
  EXPECT_EQ(250u, DoneBytes(root));
  // A count that goes down again (a stage started over) lowers every sum above.
  SetDoneCapped(second_stage, 100);
  EXPECT_EQ(100u, DoneBytes(second));
  EXPECT_EQ(100u, DoneBytes(root));
  // A node that joins late adds its total all the way up.
  ProgressReporter late(700, &first_stage);
  EXPECT_EQ(1000u, TotalBytes(first));
  EXPECT_EQ(2000u, TotalBytes(root));
  EXPECT_FLOAT_EQ(0.05f, Fraction(root));

  ProgressReporter small_root(0, nullptr);
  ProgressReporter a(&small_root, u"a");
  ProgressReporter a_stage(300, &a);
  ProgressReporter b(&small_root, u"b");
  ProgressReporter b_stage(100, &b);
  MarkComplete(b);
  EXPECT_FLOAT_EQ(0.25f, Fraction(small_root));
  EXPECT_FLOAT_EQ(1.0f, Fraction(b));
  EXPECT_FLOAT_EQ(0.0f, Fraction(a));
}

TEST(ProgressTree, FractionIsZeroWithoutTotalAndClampedAtOne) {
  ProgressReporter lone(0, nullptr);
  SetDoneCapped(lone, 500);
  EXPECT_EQ(0.0f, Fraction(lone));
  ProgressReporter over(100, nullptr);
  SetDoneCapped(over, 250);
  EXPECT_EQ(1.0f, Fraction(over));
}

TEST(ProgressTree, CountsAbove4GiB) {
  ProgressReporter entry(nullptr, u"big");
  ProgressReporter stage1(6ull << 30, &entry);
  ProgressReporter stage2(2ull << 30, &entry);
  SetDoneCapped(stage1, 6ull << 30);
  EXPECT_EQ(8ull << 30, TotalBytes(entry));
  EXPECT_EQ(6ull << 30, DoneBytes(entry));
  EXPECT_FLOAT_EQ(0.75f, Fraction(entry));
}

TEST(ProgressTree, MarkCompleteReachesEveryNodeBelow) {
  ProgressReporter entry(nullptr, u"e");
  ProgressReporter stage(40, &entry);
  ProgressReporter below(60, &stage);
  ProgressReporter other(7, nullptr);
  MarkComplete(entry);
  EXPECT_EQ(40u, stage.done());
  EXPECT_EQ(60u, below.done());
  EXPECT_EQ(100u, DoneBytes(entry));
  EXPECT_EQ(0u, other.done());
}

TEST(ProgressTree, NamedAncestorAndCappedDone) {
  ProgressReporter root(0, nullptr);
  ProgressReporter entry(&root, u"C:\\Game\\b.dat");
  ProgressReporter stage(100, &entry);
  EXPECT_EQ(&entry, NamedAncestor(&stage));
  EXPECT_EQ(&entry, NamedAncestor(&entry));
  EXPECT_EQ(nullptr, NamedAncestor(&root));
  EXPECT_EQ(nullptr, NamedAncestor(nullptr));
  SetDoneCapped(stage, 150);
  EXPECT_EQ(100u, stage.done());
  SetDoneCapped(stage, 42);
  EXPECT_EQ(42u, stage.done());
}

TEST(ProgressTree, DestroyingANodeLeavesItsChildren) {
  ProgressReporter child(5, nullptr);
  {
    ProgressReporter parent(nullptr, u"p");
    parent.children.push_back(&child);
    child.parent = &parent;
  }
  child.parent = nullptr;
  EXPECT_EQ(5u, TotalBytes(child));
}

TEST(ProgressTree, RootSlotStartsEmptyAndKeepsTheRoot) {
  EXPECT_EQ(nullptr, RootReporterSlot());
  ProgressReporter root(0, nullptr);
  RootReporterSlot() = &root;
  EXPECT_EQ(&root, RootReporterSlot());
  RootReporterSlot() = nullptr;
}

}  // namespace
