// PagedReader on real files: page boundaries, the end of the file, and a page
// that cannot be read.
#include <gtest/gtest.h>

#include "diff/paged_reader_win.h"
#include "tests/win32/scratch_dir_win.h"

namespace {

constexpr uint32_t kMiB = 1 << 20;

TEST(PagedReader, EmptyFileEndsAtOnce) {
  ScratchDir dir;
  ASSERT_TRUE(WriteBytes(dir / u"empty", {}));
  PagedReader reader;
  ASSERT_TRUE(reader.Open(dir / u"empty"));
  EXPECT_EQ(-1, reader.GetByte());
  EXPECT_EQ(0u, reader.position);
  EXPECT_FALSE(reader.Open(dir / u"missing"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, reader.file);
}

TEST(PagedReader, FileOfExactlyOnePage) {
  ScratchDir dir;
  const Bytes data = Noise(kMiB, 1);
  ASSERT_TRUE(WriteBytes(dir / u"one", data));
  PagedReader reader;
  ASSERT_TRUE(reader.Open(dir / u"one"));
  EXPECT_EQ(kMiB, reader.size);
  reader.position = kMiB - 1;
  EXPECT_EQ(data.back(), reader.GetByte());
  EXPECT_EQ(-1, reader.GetByte());
  EXPECT_EQ(-1, reader.GetByte());
  EXPECT_EQ(kMiB, reader.position);
  EXPECT_EQ(0, reader.pageIndex);
}

TEST(PagedReader, CrossingPagesBothWaysReadsTheFile) {
  ScratchDir dir;
  const Bytes data = Noise(2 * kMiB + 12345, 2);
  ASSERT_TRUE(WriteBytes(dir / u"three", data));
  PagedReader reader;
  ASSERT_TRUE(reader.Open(dir / u"three"));
  reader.position = kMiB - 1;
  EXPECT_EQ(data[kMiB - 1], reader.GetByte());
  EXPECT_EQ(data[kMiB], reader.GetByte());
  EXPECT_EQ(1, reader.pageIndex);
  reader.position = kMiB - 1;
  EXPECT_EQ(data[kMiB - 1], reader.GetByte());
  EXPECT_EQ(0, reader.pageIndex);
  // The short last page, read to its end.
  reader.position = 2 * kMiB;
  Bytes tail;
  for (int byte; (byte = reader.GetByte()) >= 0;) tail.push_back(static_cast<uint8_t>(byte));
  EXPECT_EQ(Bytes(data.begin() + 2 * kMiB, data.end()), tail);
  // And the whole file from the start.
  reader.position = 0;
  Bytes all;
  for (int byte; (byte = reader.GetByte()) >= 0;) all.push_back(static_cast<uint8_t>(byte));
  EXPECT_EQ(data, all);
}

TEST(PagedReader, UnreadablePageRaisesAndStaysUnread) {
  ScratchDir dir;
  const Bytes data = Noise(2 * kMiB, 4);
  ASSERT_TRUE(WriteBytes(dir / u"broken", data));
  PagedReader reader;
  ASSERT_TRUE(reader.Open(dir / u"broken"));
  // The handle goes away under the reader, so that reading page 1 fails.
  ASSERT_TRUE(CloseHandle(reader.file));
  reader.position = kMiB - 1;
  EXPECT_EQ(data[kMiB - 1], reader.GetByte());  // page 0 is still resident
  try {
    reader.GetByte();
    ADD_FAILURE() << "no error raised";
  } catch (const InternalError& error) {
    EXPECT_STREQ("Cannot load page", error.what());
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, reader.file);
  EXPECT_EQ(-1, reader.pageIndex);
  // No page is resident any more: even page 0 is not served from the buffer.
  reader.position = 0;
  EXPECT_THROW(reader.GetByte(), InternalError);
  EXPECT_EQ(0u, reader.position);
}

TEST(PagedReader, OpenFileKeepsWritersOut) {
  ScratchDir dir;
  ASSERT_TRUE(WriteBytes(dir / u"shared", {1, 2, 3}));
  PagedReader reader;
  ASSERT_TRUE(reader.Open(dir / u"shared"));
  HANDLE writer = CreateFileW(WinText(dir / u"shared"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  reader.Close();
  EXPECT_EQ(nullptr, reader.page.get());
}

}  // namespace
