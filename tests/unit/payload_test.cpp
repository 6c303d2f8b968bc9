// The payload choice in both efforts, rebuilt as the patcher would (inflated,
// then decoded against the old file), and zlib's parallel parts joined into
// one stream.
#include "tools/payload/payload.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "tools/payload/zlib_codec.h"

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

// Over 1 MiB, zlib's deflate runs in parts of 1 MiB, each primed with the
// 32 KiB before it and ended by a sync flush: joined, they must make one
// stream with one Adler-32, the same for any number of threads, and the
// limit must stop exactly the streams longer than it.
TEST(Compress, PartsJoinIntoOneStreamWhateverTheThreads) {
  constexpr size_t kPart = size_t{1} << 20;
  for (const size_t size : {kPart + 1, 2 * kPart + 12345}) {
    for (const bool noisy : {false, true}) {
      const Bytes data = noisy ? Noise(size, static_cast<uint32_t>(size)) : Words(size, static_cast<uint32_t>(size));
      const Bytes stream = Compress(data, {}, 1);
      Bytes back;
      ASSERT_TRUE(Inflate(stream, back)) << size << (noisy ? " noise" : " words");
      EXPECT_TRUE(back == data) << size;
      EXPECT_TRUE(Compress(data, {}, 3) == stream) << size;
      Bytes within;
      EXPECT_TRUE(CompressWithin(data, stream.size(), within, {}, 2)) << size;
      EXPECT_TRUE(within == stream) << size;
      EXPECT_FALSE(CompressWithin(data, stream.size() - 1, within, {}, 2)) << size;
      EXPECT_TRUE(within.empty()) << size;
    }
  }
  // Noise repeated across a join: the part after it finds its matches in the
  // dictionary, so the stream is hardly longer than one deflate call's.
  const Bytes block = Noise(20000, 9);
  Bytes repeated;
  while (repeated.size() < 2 * kPart + 100000) repeated.insert(repeated.end(), block.begin(), block.end());
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  Bytes single(deflateBound(&z, static_cast<uLong>(repeated.size())));
  z.next_in = repeated.data();
  z.avail_in = static_cast<uInt>(repeated.size());
  z.next_out = single.data();
  z.avail_out = static_cast<uInt>(single.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  const size_t single_size = z.total_out;
  deflateEnd(&z);
  EXPECT_LT(Compress(repeated).size(), single_size + 64);
}

TEST(CompressBest, SmallerThanZlibAndInflatable) {
  for (const size_t size : {size_t{0}, size_t{1}, size_t{70000}, size_t{1} << 20}) {
    const Bytes data = Words(size, static_cast<uint32_t>(size) + 1);
    const Bytes stream = CompressBest(data);
    Bytes back;
    ASSERT_TRUE(Inflate(stream, back)) << size;
    EXPECT_TRUE(back == data) << size;
    if (size > 1000) {
      EXPECT_LT(stream.size(), Compress(data).size()) << size;
    }
  }
}

}  // namespace
