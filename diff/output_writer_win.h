#pragma once
// Byte-wise sequential output to a new file through one buffer of up to
// 1 MiB. The buffer goes to the file only when it holds 1 MiB before a new
// byte, on Flush and on Close, so the file receives blocks of exactly 1 MiB
// and a last, shorter one. After each block handed to the file the
// reporter's done count becomes the bytes written so far (capped at its
// total) and its display is updated. The running CRC-32 and count of the
// written bytes are kept in `digest`. Counts are 32-bit: outputs of 2 GiB or
// more are outside its range.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "files/block_pool.h"
#include "files/written_digest.h"
#include "manifest/text.h"

class ProgressReporter;

class OutputWriter {
 public:
  static constexpr uint32_t kBufferSize = kBlockSize;
  static constexpr uint32_t kMinimumCapacity = 1u << 12;

  // `progress` is told about bytes written; it may be null and is not owned.
  explicit OutputWriter(ProgressReporter* progress) : reporter(progress) {}
  ~OutputWriter() { Close(); }
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  // Creates `path` new (false when it exists or cannot be created) with no
  // sharing. A file already open is flushed and closed first. The buffer is
  // taken here on first use (files/block_pool.h, which raises when no memory
  // can be had): as large as the reporter's total (the size the output is
  // expected to have) when that is under 1 MiB, else 1 MiB.
  bool Open(const WideText& path);
  // Appends one byte, flushing the full buffer first. False without a buffer
  // or an open file, or when that flush fails.
  bool PutByte(uint8_t byte) {
    if (!buffer || file == INVALID_HANDLE_VALUE) return false;
    if (count == capacity && !MakeRoom()) return false;
    buffer[count++] = byte;
    return true;
  }
  // As `length` calls of PutByte, copying in blocks: the file still receives
  // exactly 1 MiB per flush.
  bool PutBytes(const uint8_t* bytes, uint32_t length) {
    if (!buffer || file == INVALID_HANDLE_VALUE) return false;
    while (length != 0) {
      if (count == capacity && !MakeRoom()) return false;
      const uint32_t room = capacity - count;
      const uint32_t step = length < room ? length : room;
      std::memcpy(buffer.get() + count, bytes, step);
      count += step;
      bytes += step;
      length -= step;
    }
    return true;
  }
  // Writes the buffered bytes. False without a buffer or an open file, or on
  // a failed or zero-byte write; the unwritten bytes then stay buffered.
  bool Flush();
  // Flush, then has the system write the file's data to the disk itself
  // (FlushFileBuffers), so that a power cut after this returns cannot leave
  // the file with bytes that were never written. False when either fails.
  bool FlushToDisk();
  // Flushes (ignoring the result), closes the file and gives the buffer back.
  void Close();
  // Room for one more byte in a full buffer: a buffer under 1 MiB grows
  // (doubling, at most to 1 MiB) and keeps its bytes, a 1 MiB one is flushed.
  // False when that flush fails.
  bool MakeRoom();

  ProgressReporter* reporter;
  uint32_t capacity = 0;  // bytes the buffer holds
  uint32_t count = 0;     // bytes waiting in the buffer
  uint32_t written = 0;   // bytes written to the file since Open
  Block buffer;
  HANDLE file = INVALID_HANDLE_VALUE;
  WrittenDigest digest;  // CRC-32 and count of the bytes written since Open
};
