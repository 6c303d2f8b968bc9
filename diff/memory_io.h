#pragma once
// Byte sources and sinks over memory, with the same per-byte interface as the
// paged file reader and the output writer, so that the diff decoder can run
// on buffers (unit tests, fuzzing, the authoring tool's self-check).
#include <cstddef>
#include <cstdint>
#include <vector>

// Reads `size` bytes at `data`, which the caller owns and keeps alive.
// `position` is the offset of the next byte; the decoder moves it to seek.
struct MemoryReader {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t position = 0;

  MemoryReader() = default;
  MemoryReader(const uint8_t* bytes, uint32_t length) : data(bytes), size(length) {}
  explicit MemoryReader(const std::vector<uint8_t>& bytes)
      : data(bytes.data()), size(static_cast<uint32_t>(bytes.size())) {}

  // The byte at `position` as 0..255, advancing by one; -1 at or past the end
  // (the position is then left as it is).
  int GetByte() {
    if (position >= size) return -1;
    return data[position++];
  }
};

// Appends to `bytes`. `limit` caps the output: a byte that would make it
// longer fails, as a failed file write does.
struct MemoryWriter {
  std::vector<uint8_t> bytes;
  size_t limit = SIZE_MAX;

  MemoryWriter() = default;
  explicit MemoryWriter(size_t max_bytes) : limit(max_bytes) {}

  bool PutByte(uint8_t byte) {
    if (bytes.size() >= limit) return false;
    bytes.push_back(byte);
    return true;
  }
};
