// OutputWriter on real files: blocks of 1 MiB, progress per block, the digest.
#include <gtest/gtest.h>
#include <zlib.h>

#include "diff/output_writer_win.h"
#include "tests/win32/progress_recorder_win.h"
#include "tests/win32/scratch_dir_win.h"
#include "ui/progress_tree.h"

namespace {

uint32_t Crc(const Bytes& bytes) {
  return static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

TEST(OutputWriter, WritesFullBlocksThenTheRest) {
  ScratchDir dir;
  const Bytes data = Noise((1 << 20) + 1, 3);
  const float rest = static_cast<float>(static_cast<double>(data.size()) / (4 << 20));
  // An output expected to be small starts with a small buffer that grows to
  // 1 MiB on the way, without changing what the file receives.
  struct Case {
    uint64_t expected;
    std::vector<float> fractions;
  };
  for (const Case& c : {Case{4 << 20, {0.25f, rest}}, Case{2000, {1.0f, 1.0f}}}) {
    ProgressRecorder recorder;
    ProgressReporter entry(nullptr, u"out");
    ProgressReporter stage(c.expected, &entry);
    {
      OutputWriter writer(&stage);
      ASSERT_TRUE(writer.Open(dir / u"out.bin"));
      for (uint8_t byte : data) ASSERT_TRUE(writer.PutByte(byte));
      // Only the full buffer has gone out so far.
      EXPECT_EQ(1u << 20, writer.written) << c.expected;
      EXPECT_EQ(1u, writer.count) << c.expected;
      writer.Close();
      EXPECT_EQ(data.size(), writer.digest.size);
      EXPECT_EQ(Crc(data), writer.digest.crc32);
      EXPECT_FALSE(writer.PutByte(0));
      EXPECT_FALSE(writer.Flush());
    }
    EXPECT_EQ(data, ReadBytes(dir / u"out.bin")) << c.expected;
    EXPECT_EQ(c.fractions, recorder.CurrentFractions()) << c.expected;
    ASSERT_TRUE(DeleteFileW(WinText(dir / u"out.bin")));
  }
}

TEST(OutputWriter, DoneCountStopsAtTheReporterTotal) {
  ScratchDir dir;
  ProgressRecorder recorder;
  ProgressReporter entry(nullptr, u"out");
  ProgressReporter stage(1000, &entry);
  OutputWriter writer(&stage);
  ASSERT_TRUE(writer.Open(dir / u"capped.bin"));
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(writer.PutByte(static_cast<uint8_t>(i)));
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(1000u, stage.done());
  EXPECT_EQ(5000u, writer.written);
  EXPECT_EQ(std::vector<float>({1.0f}), recorder.CurrentFractions());
}

TEST(OutputWriter, WithoutReporterWritesTheSame) {
  ScratchDir dir;
  ProgressRecorder recorder;
  const Bytes data = Noise(3000, 9);
  OutputWriter writer(nullptr);
  ASSERT_TRUE(writer.Open(dir / u"plain.bin"));
  for (uint8_t byte : data) ASSERT_TRUE(writer.PutByte(byte));
  writer.Close();
  EXPECT_EQ(data, ReadBytes(dir / u"plain.bin"));
  EXPECT_TRUE(ProgressRecorder::Log().empty());
}

TEST(OutputWriter, RefusesAnExistingFileAndWorksOnlyWhenOpen) {
  ScratchDir dir;
  const Bytes old = {1, 2, 3};
  ASSERT_TRUE(WriteBytes(dir / u"there.bin", old));
  OutputWriter writer(nullptr);
  EXPECT_FALSE(writer.PutByte(1));
  EXPECT_FALSE(writer.Open(dir / u"there.bin"));
  EXPECT_FALSE(writer.PutByte(1));
  writer.Close();
  EXPECT_EQ(old, ReadBytes(dir / u"there.bin"));
  // Reopening on a second path finishes the first file.
  ASSERT_TRUE(writer.Open(dir / u"first.bin"));
  ASSERT_TRUE(writer.PutByte(0x41));
  ASSERT_TRUE(writer.Open(dir / u"second.bin"));
  ASSERT_TRUE(writer.PutByte(0x42));
  writer.Close();
  EXPECT_EQ(Bytes{0x41}, ReadBytes(dir / u"first.bin"));
  EXPECT_EQ(Bytes{0x42}, ReadBytes(dir / u"second.bin"));
}

}  // namespace
