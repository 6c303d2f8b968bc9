// The diff writer against the patcher's own decoder: number forms, escapes,
// and seeded round trips over random and structured file pairs.
#include "tools/diff/diff_writer.h"

#include <gtest/gtest.h>

#include <random>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "tools/diff/block_match.h"

namespace {

Bytes Decode(const Bytes& old_file, const Bytes& diff, bool* ok = nullptr) {
  MemoryReader old_reader(old_file);
  MemoryReader diff_reader(diff);
  MemoryWriter writer;
  const bool result = DecodeDiff(writer, old_reader, diff_reader);
  if (ok) *ok = result;
  return writer.bytes;
}

Bytes RandomBytes(std::mt19937& rng, size_t size, int alphabet = 256) {
  Bytes out(size);
  std::uniform_int_distribution<int> byte(0, alphabet - 1);
  for (auto& b : out) b = static_cast<uint8_t>(alphabet == 256 ? byte(rng) : 0xA2 + byte(rng) % 6);
  return out;
}

void ExpectRoundTrip(const Bytes& old_file, const Bytes& new_file, const char* what) {
  const Bytes diff = WriteDiff(old_file, new_file);
  bool ok = false;
  const Bytes rebuilt = Decode(old_file, diff, &ok);
  EXPECT_TRUE(ok) << what;
  ASSERT_EQ(rebuilt.size(), new_file.size()) << what;
  EXPECT_TRUE(rebuilt == new_file) << what;
}

TEST(DiffNumber, ShortestFormsAtEveryBoundary) {
  const struct {
    uint64_t value;
    Bytes form;
  } cases[] = {
      {1, {0x00}},
      {252, {0xFB}},
      {253, {0xFC, 0x00}},
      {508, {0xFC, 0xFF}},
      {509, {0xFD, 0x01, 0xFD}},
      {0, {0xFD, 0x00, 0x00}},
      {65535, {0xFD, 0xFF, 0xFF}},
      {65536, {0xFE, 0x00, 0x01, 0x00, 0x00}},
      {0xFFFFFFFFull, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF}},
      {0x100000000ull, {0xFF, 0, 0, 0, 1, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    Bytes out;
    AppendDiffNumber(out, c.value);
    EXPECT_EQ(out, c.form) << c.value;
    MemoryReader reader(out);
    int64_t read = -1;
    ASSERT_TRUE(ReadDiffNumber(reader, read));
    EXPECT_EQ(static_cast<uint64_t>(read), c.value);
    EXPECT_EQ(reader.position, out.size());
  }
}

TEST(DiffStreamWriter, EscapesDoubledOnlyWhereTheDecoderNeedsIt) {
  const struct {
    Bytes literals;
    Bytes stream;  // after the InsertMode command A7 A5
  } cases[] = {
      {{0x41, 0xA7, 0x42}, {0x41, 0xA7, 0x42}},
      {{0xA7, 0x10}, {0xA7, 0x10}},
      {{0xA7}, {0xA7, 0xA7}},
      {{0xA7, 0xA2}, {0xA7, 0xA7, 0xA2}},
      {{0xA7, 0xA6, 0x00}, {0xA7, 0xA7, 0xA6, 0x00}},
      {{0xA7, 0xA7}, {0xA7, 0xA7, 0xA7, 0xA7}},
      {{0xA7, 0xA7, 0x01}, {0xA7, 0xA7, 0xA7, 0x01}},
      {{0xA7, 0xA1}, {0xA7, 0xA1}},
      {{0xA7, 0xA8}, {0xA7, 0xA8}},
  };
  for (const auto& c : cases) {
    DiffStreamWriter writer(0);
    writer.Insert(c.literals.data(), c.literals.size());
    Bytes expected = {0xA7, 0xA5};
    expected.insert(expected.end(), c.stream.begin(), c.stream.end());
    const Bytes stream = writer.Finish();
    EXPECT_EQ(stream, expected);
    EXPECT_EQ(Decode({}, stream), c.literals);
  }
}

TEST(DiffStreamWriter, EscapeBeforeACommandIsDoubled) {
  const Bytes old_file = {1, 2, 3, 4};
  const Bytes literal = {0xA7};
  DiffStreamWriter writer(4);
  writer.Insert(literal.data(), 1);
  writer.Copy(0, 4);
  const Bytes stream = writer.Finish();
  EXPECT_EQ(stream, (Bytes{0xA7, 0xA5, 0xA7, 0xA7, 0xA7, 0xA3, 0x03}));
  EXPECT_EQ(Decode(old_file, stream), (Bytes{0xA7, 1, 2, 3, 4}));
}

// Every literal sequence of up to six bytes over the bytes that matter to the
// escape rule, in both literal modes: decoded exactly, and one byte per
// literal plus one per 0xA7 that is followed by 0xA2..0xA7 or ends the run.
TEST(DiffStreamWriter, AllShortEscapeSequencesDecodeExactly) {
  const uint8_t alphabet[] = {0x10, 0xA1, 0xA2, 0xA5, 0xA6, 0xA7, 0xA8};
  const Bytes old_file(8, 0x55);
  for (int length = 1; length <= 6; ++length) {
    int combos = 1;
    for (int i = 0; i < length; ++i) combos *= 7;
    for (int code = 0; code < combos; ++code) {
      Bytes literals;
      for (int i = 0, c = code; i < length; ++i, c /= 7) literals.push_back(alphabet[c % 7]);
      size_t doubled = 0;
      for (size_t i = 0; i < literals.size(); ++i) {
        if (literals[i] != 0xA7) continue;
        if (i + 1 == literals.size() || (literals[i + 1] >= 0xA2 && literals[i + 1] <= 0xA7)) {
          ++doubled;
        } else {
          ++i;  // the pair 0xA7 X
        }
      }
      for (bool replace : {false, true}) {
        DiffStreamWriter writer(8);
        if (replace) {
          writer.Replace(0, literals.data(), literals.size());
        } else {
          writer.Insert(literals.data(), literals.size());
        }
        writer.Copy(static_cast<uint32_t>(replace ? literals.size() : 0), 2);
        const Bytes stream = writer.Finish();
        Bytes expected = literals;
        expected.push_back(0x55);
        expected.push_back(0x55);
        bool ok = false;
        ASSERT_EQ(Decode(old_file, stream, &ok), expected) << code;
        EXPECT_TRUE(ok);
        EXPECT_EQ(stream.size(), 2 + literals.size() + doubled + 3) << code;
      }
    }
  }
}

TEST(DiffStreamWriter, SeeksBothWaysAndOnlyWhenNeeded) {
  Bytes old_file(1000);
  for (size_t i = 0; i < old_file.size(); ++i) old_file[i] = static_cast<uint8_t>(i * 7);
  DiffStreamWriter writer(1000);
  writer.Copy(600, 100);  // SeekForward 600 (three-byte form) first
  writer.Copy(700, 50);   // continues at the cursor: no seek
  writer.Copy(10, 5);     // SeekBack 740
  const Bytes stream = writer.Finish();
  Bytes expected(old_file.begin() + 600, old_file.begin() + 750);
  expected.insert(expected.end(), old_file.begin() + 10, old_file.begin() + 15);
  EXPECT_EQ(Decode(old_file, stream), expected);
  EXPECT_EQ(stream, (Bytes{0xA7, 0xA4, 0xFD, 0x02, 0x58, 0xA7, 0xA3, 0x63, 0xA7, 0xA3, 0x31, 0xA7, 0xA2, 0xFD,
                           0x02, 0xE4, 0xA7, 0xA3, 0x04}));
}

TEST(WriteDiff, RandomPairsRoundTrip) {
  std::mt19937 rng(20261209);
  for (int round = 0; round < 60; ++round) {
    const size_t old_size = rng() % 3000;
    Bytes old_file = RandomBytes(rng, old_size, round % 3 == 0 ? 6 : 256);
    Bytes new_file = old_file;
    const int edits = static_cast<int>(rng() % 12);
    for (int e = 0; e < edits; ++e) {
      const size_t at = new_file.empty() ? 0 : rng() % new_file.size();
      const size_t span = rng() % 200;
      switch (rng() % 4) {
        case 0: {  // insertion
          const Bytes extra = RandomBytes(rng, span);
          new_file.insert(new_file.begin() + static_cast<long>(at), extra.begin(), extra.end());
          break;
        }
        case 1:  // deletion
          new_file.erase(new_file.begin() + static_cast<long>(at),
                         new_file.begin() + static_cast<long>(std::min(new_file.size(), at + span)));
          break;
        case 2:  // changed bytes in place
          for (size_t i = at; i < std::min(new_file.size(), at + span); i += 1 + rng() % 5)
            new_file[i] = static_cast<uint8_t>(rng());
          break;
        default: {  // a block moved elsewhere
          if (new_file.size() < 2) break;
          const size_t end = std::min(new_file.size(), at + span);
          Bytes block(new_file.begin() + static_cast<long>(at), new_file.begin() + static_cast<long>(end));
          new_file.erase(new_file.begin() + static_cast<long>(at), new_file.begin() + static_cast<long>(end));
          const size_t to = new_file.empty() ? 0 : rng() % new_file.size();
          new_file.insert(new_file.begin() + static_cast<long>(to), block.begin(), block.end());
        }
      }
    }
    ExpectRoundTrip(old_file, new_file, "random");
    ExpectRoundTrip(new_file, old_file, "random reversed");
  }
}

TEST(WriteDiff, EmptyFilesAndEscapeRuns) {
  std::mt19937 rng(7);
  const Bytes some = RandomBytes(rng, 500);
  const Bytes escapes(777, 0xA7);
  Bytes mixed = RandomBytes(rng, 2000, 6);  // only 0xA2..0xA7
  ExpectRoundTrip({}, {}, "both empty");
  ExpectRoundTrip({}, some, "old empty");
  ExpectRoundTrip(some, {}, "new empty");
  ExpectRoundTrip(some, escapes, "escapes from random");
  ExpectRoundTrip(escapes, some, "random from escapes");
  ExpectRoundTrip(escapes, Bytes(776, 0xA7), "escapes shortened");
  ExpectRoundTrip(mixed, escapes, "escapes from command bytes");
  Bytes changed = mixed;
  for (size_t i = 0; i < changed.size(); i += 17) changed[i] = 0xA7;
  ExpectRoundTrip(mixed, changed, "command bytes changed to escapes");
  EXPECT_TRUE(WriteDiff({}, {}).empty());
  EXPECT_TRUE(Decode(some, WriteDiff(some, {})).empty());
}

// Files of one block of the patcher's reader and one byte either side, with
// structured changes: a block moved to the front, a deleted and an inserted
// region, scattered changed bytes.
TEST(WriteDiff, OneMebibyteStructuredPairs) {
  std::mt19937 rng(1048576);
  for (const size_t size : {size_t{1048575}, size_t{1048576}, size_t{1048577}}) {
    const Bytes old_file = RandomBytes(rng, size);
    Bytes new_file(old_file.begin() + 700000, old_file.begin() + 760000);
    new_file.insert(new_file.end(), old_file.begin(), old_file.begin() + 300000);
    const Bytes inserted = RandomBytes(rng, 4096);
    new_file.insert(new_file.end(), inserted.begin(), inserted.end());
    new_file.insert(new_file.end(), old_file.begin() + 310000, old_file.end());
    for (size_t i = 500000; i < 600000; i += 997) new_file[i] ^= 0x5A;
    const Bytes diff = WriteDiff(old_file, new_file);
    bool ok = false;
    EXPECT_TRUE(Decode(old_file, diff, &ok) == new_file);
    EXPECT_TRUE(ok);
    // The moved block and the changed bytes cost a few bytes each, not their
    // length: the diff is the inserted data and little more.
    EXPECT_LT(diff.size(), 4096u + 2000u) << size;
    ExpectRoundTrip(old_file, old_file, "identical 1 MiB");
    EXPECT_LT(WriteDiff(old_file, old_file).size(), 16u);
  }
}

// An archive of blocks, some structured and some noise, and a new version
// with blocks changed in place, new ones inserted, some removed and some
// moved: the runs between the changes are found by block hashes, the rest
// is matched in several units, and the stream must not depend on how many
// threads matched them.
TEST(WriteDiff, ArchiveLikePairsDoNotDependOnTheThreads) {
  std::mt19937 rng(240);
  std::vector<Bytes> blocks;
  for (int i = 0; i < 48; ++i) {
    Bytes block = RandomBytes(rng, 40000 + rng() % 80000, i % 3 == 0 ? 6 : 256);
    blocks.push_back(std::move(block));
  }
  Bytes old_file, new_file;
  for (const Bytes& b : blocks) old_file.insert(old_file.end(), b.begin(), b.end());
  size_t inserted = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    Bytes b = blocks[(i * 7) % 5 == 0 ? (i + 13) % blocks.size() : i];  // some moved, some repeated
    if (i % 9 == 4) continue;                                            // removed
    if (i % 5 == 1)
      for (size_t k = rng() % 64; k < b.size(); k += 1000 + rng() % 3000) b[k] ^= 0x11;  // edited in place
    if (i % 4 == 2) {
      const Bytes fresh = RandomBytes(rng, 200000 + rng() % 100000);  // new bytes before it
      new_file.insert(new_file.end(), fresh.begin(), fresh.end());
      inserted += fresh.size();
    }
    new_file.insert(new_file.end(), b.begin(), b.end());
  }
  DiffOptions options;
  options.threads = 1;
  const Bytes diff = WriteDiff(old_file, new_file, options);
  bool ok = false;
  EXPECT_TRUE(Decode(old_file, diff, &ok) == new_file);
  EXPECT_TRUE(ok);
  EXPECT_LT(diff.size(), inserted + inserted / 10);
  for (const unsigned threads : {2u, 5u}) {
    options.threads = threads;
    EXPECT_TRUE(WriteDiff(old_file, new_file, options) == diff) << threads << " threads";
  }
}

// Runs are exact, ascending and disjoint, and a run across the line between
// two segments of the new file (each scanned on its own) is found as one.
TEST(FindAnchors, RunsAreExactAndOneAcrossSegments) {
  std::mt19937 rng(8);
  const Bytes old_file = RandomBytes(rng, size_t{10} << 20);
  Bytes new_file = RandomBytes(rng, 7 << 20);
  const size_t across_from = new_file.size();
  new_file.insert(new_file.end(), old_file.begin() + 1000001, old_file.begin() + 1000001 + (3 << 20));
  const Bytes tail = RandomBytes(rng, 5000);
  new_file.insert(new_file.end(), tail.begin(), tail.end());
  new_file.insert(new_file.end(), old_file.begin() + 5000000, old_file.begin() + 5000000 + 6000);
  new_file.insert(new_file.end(), old_file.begin() + 7000003, old_file.begin() + 7000003 + 3000);  // too short
  for (const unsigned threads : {1u, 3u}) {
    AnchorOptions options;
    options.threads = threads;
    const std::vector<Anchor> runs = FindAnchors(old_file, new_file, options);
    ASSERT_EQ(runs.size(), 2u) << threads;
    EXPECT_EQ(runs[0].new_pos, across_from);
    EXPECT_EQ(runs[0].old_pos, 1000001u);
    EXPECT_EQ(runs[0].length, 3u << 20);
    EXPECT_EQ(runs[1].old_pos, 5000000u);
    EXPECT_EQ(runs[1].length, 6000u);
    for (const Anchor& a : runs)
      EXPECT_TRUE(
          std::equal(new_file.begin() + a.new_pos, new_file.begin() + a.new_end(), old_file.begin() + a.old_pos));
  }
}

}  // namespace
