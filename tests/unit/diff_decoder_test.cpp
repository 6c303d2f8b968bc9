// The diff stream interpreter over memory: commands, modes, numbers, and the
// streams that must fail without writing anything they do not describe.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct Decoded {
  bool ok;
  Bytes output;
  uint32_t cursor;
};

// Decodes with block access and byte by byte; both must agree in result and
// output, and after success in the final cursor.
Decoded Decode(const Bytes& old_file, const Bytes& diff, size_t limit = SIZE_MAX) {
  MemoryReader old_reader(old_file);
  MemoryReader diff_reader(diff);
  MemoryWriter writer(limit);
  const bool ok = DecodeDiff(writer, old_reader, diff_reader);

  BytewiseReader old_bytes(old_file);
  BytewiseReader diff_bytes(diff);
  BytewiseWriter byte_writer(limit);
  EXPECT_EQ(ok, DecodeDiff(byte_writer, old_bytes, diff_bytes));
  EXPECT_EQ(writer.bytes, byte_writer.inner.bytes);
  if (ok) {
    EXPECT_EQ(old_reader.position, old_bytes.position);
  }
  return {ok, writer.bytes, old_reader.position};
}

int64_t Number(const Bytes& bytes, bool* complete = nullptr) {
  MemoryReader reader(bytes);
  int64_t value = -12345;
  const bool ok = ReadDiffNumber(reader, value);
  if (complete) *complete = ok;
  if (ok) {
    EXPECT_EQ(bytes.size(), reader.position);  // every byte of the number taken
  }
  return value;
}

TEST(DiffDecoder, WorkedExampleRebuildsTheNewFile) {
  const Bytes diff = {0xA7, 0xA3, 0x02, 0xA7, 0xA6, 0x78, 0x79, 0xA7, 0xA3, 0x00,
                      0xA7, 0xA5, 0x7A, 0xA7, 0xA2, 0x05, 0xA7, 0xA3, 0x01};
  const Decoded result = Decode(Ascii("ABCDEFGH"), diff);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(Ascii("ABCxyFzAB"), result.output);
  EXPECT_EQ(2u, result.cursor);
}

TEST(DiffDecoder, EmptyStreamAndModelessLiteralsWriteNothing) {
  EXPECT_TRUE(Decode(Ascii("old"), {}).ok);
  EXPECT_TRUE(Decode(Ascii("old"), {}).output.empty());
  const Decoded literals = Decode(Ascii("old"), Ascii("plain literal bytes"));
  EXPECT_TRUE(literals.ok);
  EXPECT_TRUE(literals.output.empty());
  EXPECT_EQ(0u, literals.cursor);
}

TEST(DiffDecoder, EscapesInInsertMode) {
  const Decoded result = Decode({}, {0xA7, 0xA5, 0x41, 0xA7, 0xA7, 0x42, 0xA7, 0x10});
  EXPECT_TRUE(result.ok);
  EXPECT_EQ((Bytes{0x41, 0xA7, 0x42, 0xA7, 0x10}), result.output);
}

TEST(DiffDecoder, ReplaceModeStepsOverOneOldBytePerLiteral) {
  // The escape pair stands for two literals, the escaped escape for one.
  const Bytes old_file = Ascii("abcdefgh");
  Decoded pair = Decode(old_file, {0xA7, 0xA6, 0xA7, 0x10, 0xA7, 0xA3, 0x00});
  EXPECT_TRUE(pair.ok);
  EXPECT_EQ((Bytes{0xA7, 0x10, 'c'}), pair.output);
  Decoded escaped = Decode(old_file, {0xA7, 0xA6, 0xA7, 0xA7, 0xA7, 0xA3, 0x00});
  EXPECT_TRUE(escaped.ok);
  EXPECT_EQ((Bytes{0xA7, 'b'}), escaped.output);
  // Literals beyond the old file's end are still written; the cursor stays.
  Decoded past = Decode(Ascii("ab"), {0xA7, 0xA6, 'x', 'y', 'z'});
  EXPECT_TRUE(past.ok);
  EXPECT_EQ(Ascii("xyz"), past.output);
  EXPECT_EQ(2u, past.cursor);
}

TEST(DiffDecoder, LiteralsAfterCopyOrSeekAreDiscarded) {
  const Bytes old_file = Ascii("abcdef");
  EXPECT_EQ(Ascii("ab"), Decode(old_file, {0xA7, 0xA3, 0x01, 'x', 'y', 0xA7, 0x10}).output);
  EXPECT_EQ(Ascii("d"), Decode(old_file, {0xA7, 0xA4, 0x02, 'x', 0xA7, 0xA3, 0x00}).output);
  EXPECT_EQ(Ascii("ab!"), Decode(old_file, {0xA7, 0xA3, 0x01, 'x', 0xA7, 0xA5, '!'}).output);
}

TEST(DiffDecoder, NumberForms) {
  EXPECT_EQ(1, Number({0x00}));
  EXPECT_EQ(252, Number({0xFB}));
  EXPECT_EQ(253, Number({0xFC, 0x00}));
  EXPECT_EQ(508, Number({0xFC, 0xFF}));
  EXPECT_EQ(509, Number({0xFD, 0x01, 0xFD}));
  EXPECT_EQ(0, Number({0xFD, 0x00, 0x00}));
  EXPECT_EQ(65536, Number({0xFE, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(4294967295ll, Number({0xFE, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(0x0102030405060708ll, Number({0xFF, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(-1, Number({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(0, Number({}));
}

TEST(DiffDecoder, NumberCutOffInsideItsBytesFails) {
  for (const Bytes& cut : {Bytes{0xFC}, Bytes{0xFD, 0x01}, Bytes{0xFE, 0, 0, 0}, Bytes{0xFF, 0, 0, 0, 0, 0, 0, 0}}) {
    bool complete = true;
    Number(cut, &complete);
    EXPECT_FALSE(complete) << cut.size();
  }
}

TEST(DiffDecoder, CopyCounts) {
  const Bytes old_file = Ascii("abcdef");
  EXPECT_EQ(Ascii("a"), Decode(old_file, {0xA7, 0xA3, 0x00}).output);
  const Decoded zero = Decode(old_file, {0xA7, 0xA3, 0xFD, 0x00, 0x00});
  EXPECT_TRUE(zero.ok);
  EXPECT_TRUE(zero.output.empty());
  // A negative 64-bit count copies nothing.
  const Decoded negative = Decode(old_file, {0xA7, 0xA3, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_TRUE(negative.ok);
  EXPECT_TRUE(negative.output.empty());
  // The whole old file, to exactly its end.
  EXPECT_EQ(old_file, Decode(old_file, {0xA7, 0xA3, 0x05}).output);
  // A stream ending right after the copy opcode copies nothing.
  EXPECT_TRUE(Decode(old_file, {0xA7, 0xA3}).ok);
}

TEST(DiffDecoder, SeeksStayInsideTheOldFile) {
  const Bytes old_file = Ascii("abcdef");
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA2, 0x00}).ok);
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA4, 0x06}).ok);
  // Seeking to exactly the end succeeds; a replace literal there is written.
  const Decoded end = Decode(old_file, {0xA7, 0xA4, 0x05, 0xA7, 0xA6, 'z'});
  EXPECT_TRUE(end.ok);
  EXPECT_EQ(Ascii("z"), end.output);
  EXPECT_EQ(6u, end.cursor);
  // Only the low 32 bits move the cursor: 2^32 + 2 forward is 2 forward.
  EXPECT_EQ(Ascii("c"), Decode(old_file, {0xA7, 0xA4, 0xFF, 0, 0, 0, 1, 0, 0, 0, 2, 0xA7, 0xA3, 0x00}).output);
  // Back across the start wraps around and fails.
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA4, 0x01, 0xA7, 0xA2, 0x02}).ok);
}

TEST(DiffDecoder, MalformedStreamsFailWithoutInventedBytes) {
  const Bytes old_file = Ascii("abcdef");
  // A copy past the old file's end writes none of its bytes.
  const Decoded copy = Decode(old_file, {0xA7, 0xA3, 0x01, 0xA7, 0xA3, 0x04});
  EXPECT_FALSE(copy.ok);
  EXPECT_EQ(Ascii("ab"), copy.output);
  // A huge 64-bit count is refused as well.
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA3, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}).ok);
  // A stream ending right after an escape byte, in every mode.
  for (uint8_t mode : {0xA5, 0xA6}) {
    const Decoded escape = Decode(old_file, {0xA7, mode, 'x', 0xA7});
    EXPECT_FALSE(escape.ok);
    EXPECT_EQ(Ascii("x"), escape.output);
  }
  EXPECT_FALSE(Decode(old_file, {0xA7}).ok);
  // Numbers cut short.
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA3, 0xFC}).ok);
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA4, 0xFE, 0x00}).ok);
  EXPECT_FALSE(Decode(old_file, {0xA7, 0xA2, 0xFF, 0, 0}).ok);
}

TEST(DiffDecoder, FailedWriteStopsDecoding) {
  const Decoded result = Decode(Ascii("abcdef"), {0xA7, 0xA3, 0x05}, 3);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(Ascii("abc"), result.output);
  EXPECT_FALSE(Decode({}, {0xA7, 0xA5, 'a', 'b'}, 1).ok);
  EXPECT_FALSE(Decode(Ascii("ab"), {0xA7, 0xA6, 0xA7, 0x10}, 1).ok);
}

// A small model of the stream, written independently of the decoder: random
// streams of well-formed commands rebuild exactly what the model predicts.
TEST(DiffDecoder, RandomWellFormedStreamsMatchTheirModel) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 300; ++round) {
    Bytes old_file(1 + random() % 3000);
    for (uint8_t& byte : old_file) byte = static_cast<uint8_t>(0xA0 + random() % 16);
    Bytes diff, expected;
    uint32_t cursor = 0;
    auto number = [&](uint32_t n) {
      if (n >= 1 && n <= 252) {
        diff.push_back(static_cast<uint8_t>(n - 1));
      } else if (n >= 253 && n <= 508) {
        diff.insert(diff.end(), {0xFC, static_cast<uint8_t>(n - 253)});
      } else {
        diff.insert(diff.end(), {0xFE, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                 static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
      }
    };
    auto literals = [&](bool replace) {
      diff.insert(diff.end(), {0xA7, static_cast<uint8_t>(replace ? 0xA6 : 0xA5)});
      const int count = 1 + random() % 20;
      for (int i = 0; i < count; ++i) {
        const uint8_t byte = static_cast<uint8_t>(0xA0 + random() % 16);
        diff.push_back(byte);
        if (byte == 0xA7) diff.push_back(0xA7);
        expected.push_back(byte);
        if (replace && cursor < old_file.size()) ++cursor;
      }
    };
    for (int command = 0; command < 30; ++command) {
      switch (random() % 4) {
        case 0: {
          const uint32_t n = random() % (old_file.size() - cursor + 1);
          diff.insert(diff.end(), {0xA7, 0xA3});
          number(n);
          expected.insert(expected.end(), old_file.begin() + cursor, old_file.begin() + cursor + n);
          cursor += n;
          break;
        }
        case 1: {
          const uint32_t target = random() % (old_file.size() + 1);
          diff.insert(diff.end(), {0xA7, static_cast<uint8_t>(target < cursor ? 0xA2 : 0xA4)});
          number(target < cursor ? cursor - target : target - cursor);
          cursor = target;
          break;
        }
        default:
          literals(random() % 2 == 0);
      }
    }
    const Decoded result = Decode(old_file, diff);
    ASSERT_TRUE(result.ok) << round;
    ASSERT_EQ(expected, result.output) << round;
    ASSERT_EQ(cursor, result.cursor) << round;
  }
}

}  // namespace
