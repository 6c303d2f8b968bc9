// FileCrcText on real files: the checksum texts, the failures, the reports.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "files/file_crc.h"
#include "tests/win32/progress_recorder_win.h"
#include "tests/win32/scratch_dir_win.h"
#include "ui/progress_tree.h"

namespace {

Bytes Ascii(const char* text) { return Bytes(text, text + strlen(text)); }

TEST(FileCrc, ChecksumTexts) {
  ScratchDir dir;
  NarrowText text;
  ASSERT_TRUE(WriteBytes(dir / u"check.txt", Ascii("123456789")));
  ASSERT_TRUE(FileCrcText(dir / u"check.txt", nullptr, text));
  EXPECT_EQ("cbf43926", text);
  ASSERT_TRUE(WriteBytes(dir / u"zero.txt", Ascii("quarrytide 120")));
  ASSERT_TRUE(FileCrcText(dir / u"zero.txt", nullptr, text));
  EXPECT_EQ("00b46874", text);
  EXPECT_EQ("0000000a", CrcText(10));
}

TEST(FileCrc, FailuresLeaveTheTextAlone) {
  ScratchDir dir;
  NarrowText text = "unchanged";
  ASSERT_TRUE(WriteBytes(dir / u"empty", {}));
  EXPECT_FALSE(FileCrcText(dir / u"empty", nullptr, text));
  EXPECT_FALSE(FileCrcText(dir / u"missing", nullptr, text));
  EXPECT_FALSE(FileCrcText(dir.path(), nullptr, text));
  // Another program writing the file keeps it from being read shared.
  ASSERT_TRUE(WriteBytes(dir / u"busy", Ascii("data")));
  HANDLE writer = CreateFileW(WinText(dir / u"busy"), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, writer);
  EXPECT_FALSE(FileCrcText(dir / u"busy", nullptr, text));
  CloseHandle(writer);
  EXPECT_EQ("unchanged", text);
}

TEST(FileCrc, ReportsTheChunksBeforeEachRead) {
  ScratchDir dir;
  const Bytes mib = Noise(1 << 20, 7);
  Bytes longer = mib;
  longer.push_back(0x5A);
  ASSERT_TRUE(WriteBytes(dir / u"one", mib));
  ASSERT_TRUE(WriteBytes(dir / u"two", longer));
  NarrowText with_node, without_node;
  {
    ProgressRecorder recorder;
    ProgressReporter entry(nullptr, u"one");
    ProgressReporter stage(2 << 20, &entry);
    ASSERT_TRUE(FileCrcText(dir / u"one", &stage, with_node));
    EXPECT_EQ(std::vector<float>({0.0f}), recorder.CurrentFractions());
  }
  {
    ProgressRecorder recorder;
    ProgressReporter entry(nullptr, u"two");
    ProgressReporter stage(2 << 20, &entry);
    ASSERT_TRUE(FileCrcText(dir / u"two", &stage, with_node));
    EXPECT_EQ(std::vector<float>({0.0f, 0.5f}), recorder.CurrentFractions());
  }
  ASSERT_TRUE(FileCrcText(dir / u"two", nullptr, without_node));
  EXPECT_EQ(with_node, without_node);
  EXPECT_EQ(CrcText(crc32(crc32(0, nullptr, 0), longer.data(), static_cast<uInt>(longer.size()))), with_node);
}

}  // namespace
