#include "diff/output_writer_win.h"

#include <zlib.h>

#include <cstring>

#include "files/win_text_win.h"
#include "ui/progress_tree.h"

bool OutputWriter::Open(const WideText& path) {
  if (file != INVALID_HANDLE_VALUE) {
    Flush();
    CloseHandle(file);
  }
  file = INVALID_HANDLE_VALUE;
  if (!buffer) {
    // A small output needs no 1 MiB buffer; one larger than expected makes
    // the buffer grow.
    const uint64_t expected = reporter ? reporter->total() : kBufferSize;
    capacity = expected < kMinimumCapacity ? kMinimumCapacity
               : expected < kBufferSize    ? static_cast<uint32_t>(expected)
                                           : kBufferSize;
    buffer = TakeBlock(capacity);
  }
  file = CreateFileW(WinText(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  written = 0;
  count = 0;
  digest = WrittenDigest();
  return true;
}

bool OutputWriter::Flush() {
  if (!buffer || file == INVALID_HANDLE_VALUE) return false;
  uint32_t done = 0;
  while (done < count) {
    DWORD wrote = 0;
    if (!WriteFile(file, buffer.get() + done, count - done, &wrote, nullptr) || wrote == 0) {
      // Keep what is still unwritten at the front, so nothing is written twice.
      if (done) memmove(buffer.get(), buffer.get() + done, count - done);
      count -= done;
      return false;
    }
    digest.crc32 = static_cast<uint32_t>(crc32(digest.crc32, buffer.get() + done, wrote));
    digest.size += wrote;
    done += wrote;
    written += wrote;
    if (reporter) {
      SetDoneCapped(*reporter, written);
      UpdateProgress(reporter);
    }
  }
  count = 0;
  return true;
}

bool OutputWriter::FlushToDisk() { return Flush() && FlushFileBuffers(file); }

bool OutputWriter::MakeRoom() {
  if (capacity == kBufferSize) return Flush();
  const uint32_t grown = capacity < kBufferSize / 2 ? capacity * 2 : kBufferSize;
  Block larger = TakeBlock(grown);
  std::memcpy(larger.get(), buffer.get(), count);
  buffer = std::move(larger);
  capacity = grown;
  return true;
}

void OutputWriter::Close() {
  if (file != INVALID_HANDLE_VALUE) {
    Flush();
    CloseHandle(file);
  }
  file = INVALID_HANDLE_VALUE;
  buffer.reset();
  capacity = 0;
  count = 0;
}
