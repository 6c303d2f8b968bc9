// The file operations against the real file system under Wine, each test in
// a fresh directory below the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "files/file_ops.h"
#include "files/win_text_win.h"

namespace {

WideText W(const std::wstring& text) { return FromWinText(text.c_str()); }

class FileOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    static unsigned counter = 0;
    root_ = std::wstring(temp) + L"qtr_file_ops_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
  }
  void TearDown() override {
    DeletePath(W(root_));
    EXPECT_FALSE(PathExists(W(root_)));
  }

  std::wstring At(const std::wstring& relative) const { return root_ + L"\\" + relative; }

  void WriteFileBytes(const std::wstring& relative, const std::string& bytes) const {
    HANDLE file = CreateFileW(At(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
  }

  // Holds a file open for writing with no sharing at all, as another
  // program writing it would.
  HANDLE HoldExclusively(const std::wstring& relative) const {
    return CreateFileW(At(relative).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  }

  std::wstring root_;
};

TEST(PathParts, SplitAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(DirPart(u"d\\e/f.txt"), u"d\\e/");
  EXPECT_EQ(NamePart(u"d\\e/f.txt"), u"f.txt");
  EXPECT_EQ(DirPart(u"d/e\\f.txt"), u"d/e\\");
  EXPECT_EQ(NamePart(u"d/e\\f.txt"), u"f.txt");
  EXPECT_EQ(DirPart(u"C:\\Games\\"), u"C:\\Games\\");
  EXPECT_EQ(NamePart(u"C:\\Games\\"), u"");
  EXPECT_EQ(DirPart(u"name.dat"), u"name.dat");
  EXPECT_EQ(NamePart(u"name.dat"), u"name.dat");
}

TEST_F(FileOpsTest, PathExistsForFilesAndDirectories) {
  WriteFileBytes(L"file.bin", "abc");
  ASSERT_TRUE(CreateDirectoryW(At(L"dir").c_str(), nullptr));
  EXPECT_TRUE(PathExists(W(At(L"file.bin"))));
  EXPECT_TRUE(PathExists(W(At(L"dir"))));
  EXPECT_FALSE(PathExists(W(At(L"missing"))));
}

TEST_F(FileOpsTest, FileSizeAndFailureWhileHeldForWriting) {
  WriteFileBytes(L"file.bin", std::string(1234, 'x'));
  int64_t size = -7;
  ASSERT_TRUE(GetFileSize64(W(At(L"file.bin")), size));
  EXPECT_EQ(size, 1234);

  HANDLE holder = HoldExclusively(L"file.bin");
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  size = -7;
  EXPECT_FALSE(GetFileSize64(W(At(L"file.bin")), size));
  EXPECT_EQ(size, -7) << "the size is left untouched on failure";
  CloseHandle(holder);

  EXPECT_FALSE(GetFileSize64(W(At(L"missing.bin")), size));
}

TEST_F(FileOpsTest, CreateDirectoryChainMakesEveryLevel) {
  ASSERT_TRUE(CreateDirectoryChain(W(At(L"a\\b/c\\"))));
  EXPECT_TRUE(PathExists(W(At(L"a"))));
  EXPECT_TRUE(PathExists(W(At(L"a\\b"))));
  EXPECT_TRUE(PathExists(W(At(L"a\\b\\c"))));
  EXPECT_EQ(GetFileAttributesW(At(L"a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  // Every level exists already: nothing to do, and still a success.
  EXPECT_TRUE(CreateDirectoryChain(W(At(L"a\\b\\c"))));
  EXPECT_TRUE(CreateDirectoryChain(W(At(L"a\\b"))));
}

TEST_F(FileOpsTest, CreateDirectoryChainStopsAtALevelItCannotMake) {
  // A file where a directory level should go counts as existing, so the
  // next level below it cannot be made.
  WriteFileBytes(L"plain", "x");
  EXPECT_FALSE(CreateDirectoryChain(W(At(L"plain\\below\\deeper"))));
  EXPECT_FALSE(PathExists(W(At(L"plain\\below"))));
}

TEST_F(FileOpsTest, DeletePathRemovesAWholeTree) {
  ASSERT_TRUE(CreateDirectoryChain(W(At(L"tree\\sub\\deep"))));
  WriteFileBytes(L"tree\\top.txt", "1");
  WriteFileBytes(L"tree\\sub\\deep\\leaf.txt", "2");
  EXPECT_TRUE(DeletePath(W(At(L"tree"))));
  EXPECT_FALSE(PathExists(W(At(L"tree"))));
  EXPECT_TRUE(PathExists(W(root_)));
}

TEST_F(FileOpsTest, DeletePathFailsOnAMissingPath) {
  WriteFileBytes(L"other.txt", "keep");
  EXPECT_FALSE(DeletePath(W(At(L"missing.txt"))));
  EXPECT_TRUE(PathExists(W(At(L"other.txt"))));
}

TEST_F(FileOpsTest, DeletePathFailsOnAFileHeldWithoutSharing) {
  WriteFileBytes(L"busy.bin", "busy");
  HANDLE holder = HoldExclusively(L"busy.bin");
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeletePath(W(At(L"busy.bin"))));
  EXPECT_TRUE(PathExists(W(At(L"busy.bin"))));
  CloseHandle(holder);
  EXPECT_TRUE(DeletePath(W(At(L"busy.bin"))));
  EXPECT_FALSE(PathExists(W(At(L"busy.bin"))));
}

TEST_F(FileOpsTest, RenamePathMovesTheFile) {
  WriteFileBytes(L"old.dat", "payload");
  ASSERT_TRUE(RenamePath(W(At(L"old.dat")), W(At(L"new.dat"))));
  EXPECT_FALSE(PathExists(W(At(L"old.dat"))));
  int64_t size = 0;
  ASSERT_TRUE(GetFileSize64(W(At(L"new.dat")), size));
  EXPECT_EQ(size, 7);
}

}  // namespace
