#pragma once
// A scratch installation directory of real files for the file-entry tests,
// and the payload resources this test program carries (ids 6101 to 6108,
// made at build time by make_file_payloads.py).
#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <string>

#include "files/file_crc.h"
#include "files/file_ops.h"
#include "files/win_text_win.h"
#include "manifest/data_resource.h"
#include "manifest/file_patch.h"

namespace file_entry_test {

constexpr int kOldFile = 6101;     // the installed file before patching
constexpr int kNewFile = 6102;     // after patching, as a whole-file payload
constexpr int kNewPacked = 6103;   // the same, deflated
constexpr int kDiff = 6104;        // old to new
constexpr int kDiffPacked = 6105;  // the same, deflated
constexpr int kWrongDiff = 6106;   // deflated; rebuilds a file that differs in one byte
constexpr int kCutStream = 6107;   // a deflated new file cut short
constexpr int kSmallFile = 6108;

inline std::string Resource(int id) {
  const DataResource view = LoadDataResource(id);
  return std::string(reinterpret_cast<const char*>(view.data), view.length);
}

inline NarrowText CrcOf(const std::string& bytes) {
  return CrcText(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A directory of its own under the temporary folder, removed afterwards.
class ScratchDirectory : public ::testing::Test {
 public:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    dir = NormalizePath(FromWinText(temp), true) + u"\\qtr_entry_" +
          WidenAscii(std::to_string(GetCurrentProcessId()).c_str()) + u"_" +
          WidenAscii(std::to_string(++counter).c_str());
    if (PathExists(dir)) DeletePath(dir);
    ASSERT_TRUE(CreateDirectoryChain(dir));
  }
  void TearDown() override {
    if (PathExists(dir)) DeletePath(dir);
  }

  WideText Path(const WideText& relative) const { return dir + u"\\" + relative; }

  void Write(const WideText& relative, const std::string& bytes) {
    const WideText path = Path(relative);
    ASSERT_TRUE(CreateDirectoryChain(DirPart(path)));
    HANDLE file =
        CreateFileW(WinText(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
  }

  // The file's bytes, or "<missing>" when it cannot be read.
  std::string Read(const WideText& relative) const {
    HANDLE file = CreateFileW(WinText(Path(relative)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0) bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
  }

  bool Exists(const WideText& relative) const { return PathExists(Path(relative)); }

  // An entry of this directory as the pack reader makes it.
  FilePatch Entry(FilePatchKind kind, const WideText& dir_part, const WideText& name_part) const {
    FilePatch entry;
    entry.kind = kind;
    entry.base_dir = dir + u"\\";
    entry.dir_part = dir_part;
    entry.name_part = name_part;
    return entry;
  }

  WideText dir;
};

// Holds a file open without sharing, as another program could.
class HeldOpen {
 public:
  explicit HeldOpen(const WideText& path)
      : handle_(CreateFileW(WinText(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace file_entry_test
