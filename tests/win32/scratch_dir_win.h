#pragma once
// A fresh directory under the temporary folder for one test, removed with
// everything in it afterwards, and small file helpers for the tests.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "files/win_text_win.h"
#include "manifest/text.h"

using Bytes = std::vector<uint8_t>;

class ScratchDir {
 public:
  // Under `base` (with its trailing backslash), by default the temporary folder.
  explicit ScratchDir(const WideText& base = TempFolder()) {
    static int serial = 0;
    path_ = base + u"qtr_engine_" + WidenAscii(std::to_string(GetCurrentProcessId()).c_str()) +
            u"_" + WidenAscii(std::to_string(++serial).c_str()) + u"\\";
    CreateDirectoryW(WinText(path_), nullptr);
  }
  ~ScratchDir() { Remove(path_); }

  static WideText TempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return FromWinText(temp);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory with its trailing backslash, and a path inside it.
  const WideText& path() const { return path_; }
  WideText operator/(const char16_t* name) const { return path_ + name; }

 private:
  static void Remove(const WideText& dir) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(WinText(dir + u"*"), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const WideText name = FromWinText(found.cFileName);
        if (name == u"." || name == u"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          Remove(dir + name + u"\\");
        } else {
          DeleteFileW(WinText(dir + name));
        }
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(WinText(dir));
  }
  WideText path_;
};

inline bool WriteBytes(const WideText& path, const Bytes& bytes) {
  HANDLE file = CreateFileW(WinText(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  CloseHandle(file);
  return ok && wrote == bytes.size();
}

// The whole file, or an empty vector and `exists` false when it cannot be read.
inline Bytes ReadBytes(const WideText& path, bool* exists = nullptr) {
  Bytes bytes;
  HANDLE file = CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (exists) *exists = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  CloseHandle(file);
  return bytes;
}

inline bool FileExists(const WideText& path) {
  return GetFileAttributesW(WinText(path)) != INVALID_FILE_ATTRIBUTES;
}

// Deterministic pseudo-random bytes.
inline Bytes Noise(size_t size, uint32_t seed) {
  Bytes bytes(size);
  for (uint8_t& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}
