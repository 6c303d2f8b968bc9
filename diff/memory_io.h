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
  // Block access for the decoder: the rest of the data from `position`.
  const uint8_t* Peek(uint32_t& available) {
    available = size - position;
    return data + position;
  }
  void Advance(uint32_t count) { position += count; }
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
  // As `count` calls of PutByte: the bytes up to the limit, false beyond it.
  bool PutBytes(const uint8_t* data, uint32_t count) {
    const size_t room = bytes.size() < limit ? limit - bytes.size() : 0;
    const size_t take = count < room ? count : room;
    bytes.insert(bytes.end(), data, data + take);
    return take == count;
  }
};

// The same without block access, so that the decoder takes its byte-by-byte
// path: used to check that both paths give the same result.
struct BytewiseReader {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t position = 0;

  explicit BytewiseReader(const std::vector<uint8_t>& bytes)
      : data(bytes.data()), size(static_cast<uint32_t>(bytes.size())) {}
  int GetByte() {
    if (position >= size) return -1;
    return data[position++];
  }
};

struct BytewiseWriter {
  MemoryWriter inner;
  explicit BytewiseWriter(size_t max_bytes = SIZE_MAX) : inner(max_bytes) {}
  bool PutByte(uint8_t byte) { return inner.PutByte(byte); }
};
