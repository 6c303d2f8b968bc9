// The apply-cost model against the rules of the patcher's paged reader: page
// 0 is loaded at open, a page is loaded when a byte outside the resident one
// is read (copies and replaced literals read, seeks and inserted literals do
// not), a copy across boundaries loads every page it reads, and the short
// last page reads only the file's bytes. And the diff writer's own count of
// loads, which its page budget steers by, against the model's.
#include "tools/diff/apply_cost.h"

#include <gtest/gtest.h>

#include <random>

#include "tools/diff/diff_writer.h"

namespace {

constexpr uint32_t kMiB = 1 << 20;

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

TEST(ApplyCost, PageLoadsFollowThePagedReader) {
  const Bytes old_file = Noise(3 * kMiB + 100, 1);  // pages 0..3, the last of 100 bytes
  const Bytes literals(40, 0x11);
  const struct {
    const char* what;
    std::function<void(DiffStreamWriter&)> build;
    uint64_t loads, page_bytes, copies, seeks, literal_bytes;
  } cases[] = {
      {"copy inside page 0", [](DiffStreamWriter& w) { w.Copy(10, 1000); }, 1, kMiB, 1, 1, 0},
      {"copy ending at the page's end loads no further page", [](DiffStreamWriter& w) { w.Copy(kMiB - 10, 10); }, 1,
       kMiB, 1, 1, 0},
      {"copy across one boundary", [](DiffStreamWriter& w) { w.Copy(kMiB - 10, 11); }, 2, 2 * kMiB, 1, 1, 0},
      {"copy over pages 0 to 3", [](DiffStreamWriter& w) { w.Copy(0, 3 * kMiB + 100); }, 4, 3 * kMiB + 100, 1, 0, 0},
      {"to the short last page and back",
       [](DiffStreamWriter& w) {
         w.Copy(3 * kMiB, 5);
         w.Copy(20, 5);
       },
       3, 2 * kMiB + 100, 2, 2, 0},
      {"back and forth between two pages",
       [](DiffStreamWriter& w) {
         w.Copy(2 * kMiB, 5);
         w.Copy(100, 5);
         w.Copy(2 * kMiB + 7, 5);
       },
       4, 4 * kMiB, 3, 3, 0},
      {"replaced literals read the old bytes they stand for",
       [&](DiffStreamWriter& w) { w.Replace(kMiB - 20, literals.data(), literals.size()); }, 2, 2 * kMiB, 0, 1, 40},
      {"inserted literals read nothing",
       [&](DiffStreamWriter& w) {
         w.Copy(kMiB - 5, 5);
         w.Insert(literals.data(), literals.size());
       },
       1, kMiB, 1, 1, 40},
      {"replacing at the end of the old file reads nothing",
       [&](DiffStreamWriter& w) {
         w.Copy(3 * kMiB + 99, 1);
         w.Replace(3 * kMiB + 100, literals.data(), literals.size());
       },
       2, kMiB + 100, 1, 1, 40},
  };
  for (const auto& c : cases) {
    DiffStreamWriter writer(static_cast<uint32_t>(old_file.size()));
    c.build(writer);
    const uint64_t writer_loads = writer.page_loads();
    const Bytes diff = writer.Finish();
    Bytes rebuilt;
    ApplyCost cost;
    ASSERT_TRUE(MeasureApply(old_file, diff, rebuilt, cost)) << c.what;
    EXPECT_EQ(cost.old_pages, 4u) << c.what;
    EXPECT_EQ(cost.page_loads, c.loads) << c.what;
    EXPECT_EQ(writer_loads, c.loads) << c.what;
    EXPECT_EQ(cost.page_bytes, c.page_bytes) << c.what;
    EXPECT_EQ(cost.copies, c.copies) << c.what;
    EXPECT_EQ(cost.seeks, c.seeks) << c.what;
    EXPECT_EQ(cost.literal_bytes, c.literal_bytes) << c.what;
    EXPECT_EQ(cost.copied_bytes + cost.literal_bytes, rebuilt.size()) << c.what;
    EXPECT_EQ(cost.diff_size, diff.size()) << c.what;
  }
}

TEST(ApplyCost, SeeksAloneLoadNothing) {
  const Bytes old_file = Noise(3 * kMiB + 100, 1);
  Bytes diff = {0xA7, 0xA4};  // forward to page 3, back to page 0, copy there
  AppendDiffNumber(diff, 3 * kMiB);
  diff.insert(diff.end(), {0xA7, 0xA2});
  AppendDiffNumber(diff, 3 * kMiB - 20);
  diff.insert(diff.end(), {0xA7, 0xA3, 0x04});
  Bytes rebuilt;
  ApplyCost cost;
  ASSERT_TRUE(MeasureApply(old_file, diff, rebuilt, cost));
  EXPECT_EQ(rebuilt, Bytes(old_file.begin() + 20, old_file.begin() + 25));
  EXPECT_EQ(cost.page_loads, 1u);
  EXPECT_EQ(cost.seeks, 2u);
}

TEST(ApplyCost, EmptyOldFileAndMalformedStreams) {
  Bytes rebuilt;
  ApplyCost cost;
  const Bytes inserted = {0xA7, 0xA5, 1, 2, 3};
  ASSERT_TRUE(MeasureApply({}, inserted, rebuilt, cost));
  EXPECT_EQ(rebuilt, (Bytes{1, 2, 3}));
  EXPECT_EQ(cost.old_pages, 0u);
  EXPECT_EQ(cost.page_loads, 1u);  // the reader loads its empty page 0 at open
  EXPECT_EQ(cost.page_bytes, 0u);
  EXPECT_EQ(cost.literal_bytes, 3u);
  // A copy past the end fails; the command is still counted. A number's
  // bytes equal to the escape are no command.
  EXPECT_FALSE(MeasureApply(Bytes(10, 0), Bytes{0xA7, 0xA3, 0x20}, rebuilt, cost));
  EXPECT_EQ(cost.copies, 1u);
  ASSERT_TRUE(MeasureApply(Bytes(300, 0), Bytes{0xA7, 0xA3, 0xA7, 0xA7, 0xA3, 0x00}, rebuilt, cost));
  EXPECT_EQ(cost.copies, 2u);
  EXPECT_EQ(cost.copied_bytes, 169u);
}

// The matcher steers by DiffStreamWriter's count: it must be the patcher's,
// for any sequence of commands.
TEST(ApplyCost, WriterCountsTheLoadsTheDecoderMakes) {
  std::mt19937 rng(77);
  const Bytes old_file = Noise(5 * kMiB + 4321, 2);
  const Bytes literals = Noise(5000, 3);
  const uint32_t size = static_cast<uint32_t>(old_file.size());
  for (int round = 0; round < 20; ++round) {
    DiffStreamWriter writer(size);
    for (int step = 0; step < 30; ++step) {
      // Offsets near page boundaries half of the time.
      const uint32_t at =
          rng() % 2 ? static_cast<uint32_t>(rng() % size)
                    : std::min<uint32_t>(size - 1, static_cast<uint32_t>((1 + rng() % 5) * kMiB + rng() % 64 - 32));
      const uint32_t length = 1 + rng() % (rng() % 4 == 0 ? 2 * kMiB : 3000);
      switch (rng() % 3) {
        case 0:
          writer.Copy(at, std::min(length, size - at));
          break;
        case 1:
          writer.Replace(at, literals.data(), std::min<size_t>(length, literals.size()));
          break;
        default:
          writer.Insert(literals.data(), std::min<size_t>(length, literals.size()));
      }
    }
    const uint64_t counted = writer.page_loads();
    Bytes rebuilt;
    ApplyCost cost;
    ASSERT_TRUE(MeasureApply(old_file, writer.Finish(), rebuilt, cost));
    EXPECT_EQ(counted, cost.page_loads) << round;
  }
}

}  // namespace
