// The payload choice in both efforts, rebuilt as the patcher would (inflated,
// then decoded against the old file), and zopfli's blocks joined into one
// zlib stream at every kind of block boundary.
#include "tools/payload.h"

#include <gtest/gtest.h>

#include <random>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "tools/zlib_codec.h"

namespace {

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Text-like bytes that deflate well but not trivially.
Bytes Words(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"patch ", "quarry ", "tide ", "file ", "0xA7 ", "\xA7\xA3", "\n"};
  std::mt19937 rng(seed);
  Bytes bytes;
  while (bytes.size() < size) {
    const char* word = kWords[rng() % 7];
    bytes.insert(bytes.end(), word, word + std::char_traits<char>::length(word));
  }
  bytes.resize(size);
  return bytes;
}

Bytes Rebuild(const Payload& payload, const Bytes* old_file) {
  Bytes inner = payload.bytes;
  if (payload.comp) {
    EXPECT_TRUE(Inflate(payload.bytes, inner));
  }
  if (!payload.diff) return inner;
  EXPECT_EQ(payload.diff_size, inner.size());
  MemoryReader old_reader(*old_file);
  MemoryReader diff_reader(inner);
  MemoryWriter writer;
  EXPECT_TRUE(DecodeDiff(writer, old_reader, diff_reader));
  return writer.bytes;
}

TEST(MakePayload, EveryChoiceRebuildsTheFileInBothEfforts) {
  const Bytes old_file = Words(300000, 1);
  Bytes edited = old_file;
  for (size_t i = 1000; i < edited.size(); i += 4099) edited[i] ^= 0x20;
  const Bytes random = Noise(70000, 2);
  const struct {
    const char* what;
    const Bytes* old_file;
    Bytes new_file;
    bool comp, diff;
  } cases[] = {
      {"edited: the deflated diff", &old_file, edited, true, true},
      {"added text: deflated whole", nullptr, Words(100000, 3), true, false},
      {"added noise: raw whole", nullptr, random, false, false},
      {"noise from unrelated text: raw whole", &old_file, random, false, false},
      {"unchanged: a diff of one copy", &old_file, old_file, false, true},
      {"empty from text: deflated, never an empty resource", &old_file, Bytes(), true, false},
      {"empty added", nullptr, Bytes(), true, false},
  };
  for (const auto& c : cases) {
    for (const Effort effort : {Effort::Fast, Effort::Best}) {
      PayloadOptions options;
      options.effort = effort;
      const ByteSpan old_span = c.old_file ? ByteSpan(*c.old_file) : ByteSpan();
      const ByteSpan* old_file = c.old_file ? &old_span : nullptr;
      const Payload payload = MakePayload(old_file, c.new_file, options);
      const char* mode = effort == Effort::Fast ? "fast" : "best";
      EXPECT_FALSE(payload.bytes.empty()) << c.what << ", " << mode;
      EXPECT_EQ(payload.comp, c.comp) << c.what << ", " << mode;
      EXPECT_EQ(payload.diff, c.diff) << c.what << ", " << mode;
      EXPECT_TRUE(Rebuild(payload, c.old_file) == c.new_file) << c.what << ", " << mode;
      EXPECT_TRUE(MakePayload(old_file, c.new_file, options).bytes == payload.bytes) << c.what << ", " << mode;
    }
  }
}

TEST(MakePayload, BestIsNoLargerAndReportsItsStages) {
  const Bytes old_file = Words(400000, 4);
  Bytes new_file(old_file.begin() + 1000, old_file.end());
  const Bytes inserted = Words(50000, 5);
  new_file.insert(new_file.begin() + 200000, inserted.begin(), inserted.end());
  PayloadOptions options;
  options.effort = Effort::Fast;
  const ByteSpan old_span(old_file);
  const Payload fast = MakePayload(&old_span, new_file, options);
  std::vector<std::string> stages;
  int calls = 0;
  options.effort = Effort::Best;
  options.progress = [&](const char* stage, uint64_t done, uint64_t total) {
    ++calls;
    EXPECT_LE(done, total) << stage;
    if (stages.empty() || stages.back() != stage) stages.push_back(stage);
  };
  const Payload best = MakePayload(&old_span, new_file, options);
  EXPECT_LT(best.bytes.size(), fast.bytes.size());
  EXPECT_TRUE(Rebuild(best, &old_file) == new_file);
  EXPECT_EQ(stages, (std::vector<std::string>{"finding runs", "indexing", "matching", "deflating best"}));
  EXPECT_LT(calls, 1000);
}

// Zopfli's blocks end at any bit; joined, they must make one stream.
// Noise blocks become stored blocks, whose padding depends on the bit where
// they start: blocks of words before them leave that anywhere in a byte.
Bytes WordsThenNoise(size_t size, uint32_t seed) {
  constexpr size_t kBlock = 32768;
  Bytes data;
  for (size_t at = 0; at < size; at += kBlock) {
    const Bytes part = (at / kBlock) % 2 == 0 ? Words(kBlock, seed + static_cast<uint32_t>(at)) : Noise(kBlock, seed);
    data.insert(data.end(), part.begin(), part.end());
  }
  data.resize(size);
  return data;
}

TEST(CompressBest, BlocksJoinAtEveryBoundary) {
  constexpr size_t kBlock = 32768;
  for (const size_t size : {size_t{0}, size_t{1}, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock + 7, 9 * kBlock}) {
    for (const bool noisy : {false, true}) {
      const Bytes data = noisy ? Noise(size, static_cast<uint32_t>(size)) : Words(size, static_cast<uint32_t>(size));
      const Bytes stream = CompressBest(data);
      Bytes back;
      ASSERT_TRUE(Inflate(stream, back)) << size << (noisy ? " noise" : " words");
      EXPECT_TRUE(back == data) << size;
      EXPECT_TRUE(CompressBest(data) == stream) << size;
      if (!noisy && size > kBlock) {
        EXPECT_LT(stream.size(), Compress(data).size()) << size;
      }
    }
  }
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const Bytes data = WordsThenNoise(4 * kBlock + seed, seed);
    Bytes back;
    ASSERT_TRUE(Inflate(CompressBest(data), back)) << "words then noise, seed " << seed;
    EXPECT_TRUE(back == data) << seed;
  }
}

}  // namespace
