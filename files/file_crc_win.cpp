// CRC-32 of a whole file, streamed in 1 MiB chunks through one buffer.
#include <windows.h>
#include <zlib.h>

#include <memory>

#include "files/block_pool.h"
#include "files/file_crc.h"
#include "files/win_text_win.h"
#include "ui/progress_tree.h"

namespace {

constexpr DWORD kChunk = kBlockSize;

struct FileHandle {
  HANDLE handle;
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

}  // namespace

bool FileCrcText(const WideText& path, ProgressReporter* node, NarrowText& text) {
  FileHandle file{CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (file.handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size64;
  // Counts are 32-bit: a file of 4 GiB or more would be checksummed short.
  if (!GetFileSizeEx(file.handle, &size64) || size64.QuadPart <= 0 || size64.QuadPart > 0xFFFFFFFFll) return false;
  const uint32_t size = static_cast<uint32_t>(size64.QuadPart);
  // No chunk is larger than the file.
  const Block buffer = TakeBlock(size < kChunk ? size : kChunk);

  uLong crc = crc32(0, Z_NULL, 0);
  for (uint32_t remaining = size; remaining != 0;) {
    DWORD got = 0;
    const DWORD want = remaining < kChunk ? remaining : kChunk;
    if (!ReadFile(file.handle, buffer.get(), want, &got, nullptr) || got == 0) return false;
    crc = crc32(crc, buffer.get(), got);
    if (node) {
      // The bytes of the chunks before this one: the first report is 0.
      SetDoneCapped(*node, size - remaining);
      UpdateProgress(node);
    }
    remaining -= got;
  }
  text = CrcText(crc);
  return true;
}
