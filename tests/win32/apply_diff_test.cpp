// ApplyDiff through real files: the same bytes as decoding over memory, the
// failures that stop before decoding, and the failures during it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "diff/apply_diff.h"
#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "files/file_ops.h"
#include "tests/win32/progress_recorder_win.h"
#include "tests/win32/scratch_dir_win.h"
#include "ui/progress_tree.h"

namespace {

constexpr uint32_t kMiB = 1 << 20;

void Number(Bytes& diff, uint32_t n) {
  diff.insert(diff.end(), {0xFE, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                           static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
}
void Command(Bytes& diff, uint8_t opcode, uint32_t n) {
  diff.insert(diff.end(), {0xA7, opcode});
  Number(diff, n);
}

Bytes DecodeInMemory(const Bytes& old_file, const Bytes& diff) {
  MemoryReader old_reader(old_file);
  MemoryReader diff_reader(diff);
  MemoryWriter writer;
  EXPECT_TRUE(DecodeDiff(writer, old_reader, diff_reader));
  return writer.bytes;
}

struct DiffFiles {
  ScratchDir dir;
  WideText old_path = dir / u"qtr.exe";
  WideText diff_path = dir / u"new.dat";
  WideText out_path = dir / u"undiff.dat";
  DiffFiles(const Bytes& old_file, const Bytes& diff, const WideText& base = ScratchDir::TempFolder())
      : dir(base) {
    EXPECT_TRUE(WriteBytes(old_path, old_file));
    EXPECT_TRUE(WriteBytes(diff_path, diff));
  }
  bool Apply(ProgressReporter* reporter = nullptr, WrittenDigest* digest = nullptr) {
    return ApplyDiff(out_path, old_path, diff_path, reporter, digest);
  }
};

TEST(ApplyDiff, WorkedExampleOnDisk) {
  const Bytes old_file = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
  DiffFiles files(old_file, {0xA7, 0xA3, 0x02, 0xA7, 0xA6, 0x78, 0x79, 0xA7, 0xA3, 0x00, 0xA7, 0xA5, 0x7A,
                             0xA7, 0xA2, 0x05, 0xA7, 0xA3, 0x01});
  WrittenDigest digest;
  ASSERT_TRUE(files.Apply(nullptr, &digest));
  const Bytes expected = {'A', 'B', 'C', 'x', 'y', 'F', 'z', 'A', 'B'};
  EXPECT_EQ(expected, ReadBytes(files.out_path));
  EXPECT_EQ(9u, digest.size);
  EXPECT_EQ(crc32(0, expected.data(), 9), digest.crc32);
  EXPECT_EQ(old_file, ReadBytes(files.old_path));
}

TEST(ApplyDiff, EmptyDiffGivesEmptyFileAndLeftoverIsReplaced) {
  DiffFiles files({1, 2, 3}, {});
  ASSERT_TRUE(WriteBytes(files.out_path, {9, 9, 9, 9}));
  ASSERT_TRUE(files.Apply());
  bool exists = false;
  EXPECT_TRUE(ReadBytes(files.out_path, &exists).empty());
  EXPECT_TRUE(exists);
}

// Copies crossing page boundaries, a seek back into the previous page and
// literals between them, several MiB of output: the same bytes as decoding
// the whole old file in memory, with progress once per MiB up to the total.
TEST(ApplyDiff, PagesOfBothInputsMatchMemory) {
  const Bytes old_file = Noise(3 * kMiB + 777, 11);
  Bytes diff;
  Command(diff, 0xA3, kMiB + 10);          // across the first boundary
  Command(diff, 0xA2, 20);                 // back into page 0
  Command(diff, 0xA3, 2 * kMiB);           // across the second boundary
  diff.insert(diff.end(), {0xA7, 0xA6});   // replace mode with many literals:
  for (int i = 0; i < 1200000; ++i) diff.push_back(static_cast<uint8_t>(i * 7));  // diff pages too
  Command(diff, 0xA2, 3 * kMiB);           // from the end back into page 0
  Command(diff, 0xA3, 3000);
  Command(diff, 0xA4, 5);
  Command(diff, 0xA3, kMiB + 1);
  diff.insert(diff.end(), {0xA7, 0xA5, 0xA7, 0xA7, 0xA7, 0x01});
  ASSERT_GT(diff.size(), kMiB);
  const Bytes expected = DecodeInMemory(old_file, diff);

  DiffFiles files(old_file, diff);
  ProgressReporter entry(nullptr, u"qtr.exe");
  ProgressReporter rebuild(expected.size() - 100, &entry);
  WrittenDigest digest;
  ASSERT_TRUE(files.Apply(&rebuild, &digest));
  const Bytes written = ReadBytes(files.out_path);
  ASSERT_EQ(expected.size(), written.size());
  EXPECT_TRUE(expected == written);
  EXPECT_EQ(expected.size(), digest.size);
  EXPECT_EQ(crc32(0, expected.data(), static_cast<uInt>(expected.size())), digest.crc32);
  EXPECT_EQ(rebuild.total(), rebuild.done());
}

TEST(ApplyDiff, FailsBeforeDecodingWithoutTouchingTheOldFile) {
  const Bytes old_file = {1, 2, 3, 4};
  const Bytes copy_all = {0xA7, 0xA3, 0x03};
  {
    DiffFiles files(old_file, copy_all);
    // Another program holds the output open: it cannot be deleted.
    ASSERT_TRUE(WriteBytes(files.out_path, {7}));
    HANDLE holder = CreateFileW(WinText(files.out_path), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_FALSE(files.Apply());
    CloseHandle(holder);
    EXPECT_EQ(Bytes{7}, ReadBytes(files.out_path));
    EXPECT_EQ(old_file, ReadBytes(files.old_path));
  }
  {
    DiffFiles files(old_file, copy_all);
    DeleteFileW(WinText(files.old_path));
    EXPECT_FALSE(files.Apply());
  }
  {
    DiffFiles files(old_file, copy_all);
    DeleteFileW(WinText(files.diff_path));
    EXPECT_FALSE(files.Apply());
    bool exists = false;
    EXPECT_TRUE(ReadBytes(files.out_path, &exists).empty());
  }
}

TEST(ApplyDiff, MalformedStreamFailsWithTheGoodPartOnDisk) {
  const Bytes old_file = {'a', 'b', 'c', 'd'};
  DiffFiles copy_past_end(old_file, {0xA7, 0xA3, 0x01, 0xA7, 0xA3, 0x09});
  EXPECT_FALSE(copy_past_end.Apply());
  EXPECT_EQ((Bytes{'a', 'b'}), ReadBytes(copy_past_end.out_path));
  DiffFiles seek_before_start(old_file, {0xA7, 0xA5, 'x', 0xA7, 0xA2, 0x00});
  EXPECT_FALSE(seek_before_start.Apply());
  EXPECT_EQ(Bytes{'x'}, ReadBytes(seek_before_start.out_path));
  DiffFiles trailing_escape(old_file, {0xA7, 0xA5, 'x', 0xA7});
  EXPECT_FALSE(trailing_escape.Apply());
  DiffFiles seek_to_end(old_file, {0xA7, 0xA4, 0x03, 0xA7, 0xA6, 'z'});
  EXPECT_TRUE(seek_to_end.Apply());
  EXPECT_EQ(Bytes{'z'}, ReadBytes(seek_to_end.out_path));
}

// Truncates a file behind the back of every Windows handle, as a failing disk
// would make its reads come up short. Wine starts Unix programs directly.
bool TruncateFromUnix(const WideText& path, int size) {
  std::string unix_path;
  for (size_t i = 2; i < path.size(); ++i) unix_path.push_back(path[i] == u'\\' ? '/' : static_cast<char>(path[i]));
  std::wstring command = L"/usr/bin/truncate -s " + std::to_wstring(size) + L" " +
                         std::wstring(unix_path.begin(), unix_path.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\truncate", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine does not always wait for a Unix process: wait for its effect.
  for (int tries = 0; tries < 500; ++tries) {
    int64_t now = -1;
    if (GetFileSize64(path, now) && now == size) return true;
    Sleep(10);
  }
  return false;
}

WideText TruncateTarget;
bool Truncated = false;

TEST(ApplyDiff, PageThatCannotBeLoadedIsAFailedRebuild) {
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) GTEST_SKIP() << "needs Wine";
  const Bytes old_file = Noise(3 * kMiB, 5);
  Bytes diff;
  Command(diff, 0xA3, 3 * kMiB);
  // Under Z:\tmp, whose Unix path is known.
  DiffFiles files(old_file, diff, u"Z:\\tmp\\");
  // The first block handed to the file shrinks the old file to 1000 bytes,
  // after its pages 0 and 1 were read: page 2 cannot be loaded.
  ProgressRecorder recorder;
  TruncateTarget = files.old_path;
  Truncated = false;
  CurrentProgressDisplay().set_current_progress = [](float) {
    if (!Truncated) Truncated = TruncateFromUnix(TruncateTarget, 1000);
    return true;
  };
  ProgressReporter entry(nullptr, u"qtr.exe");
  ProgressReporter rebuild(old_file.size(), &entry);
  EXPECT_FALSE(files.Apply(&rebuild));
  ASSERT_TRUE(Truncated);
  // The two pages read made it to disk, nothing after them.
  const Bytes written = ReadBytes(files.out_path);
  ASSERT_EQ(2 * kMiB, written.size());
  EXPECT_TRUE(Bytes(old_file.begin(), old_file.begin() + 2 * kMiB) == written);
}

}  // namespace
