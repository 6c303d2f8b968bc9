#pragma once
// Bytes held by the tool, and views of bytes held elsewhere (a vector, a
// mapped file), which the diff writer, the deflaters and the patcher model
// read without copying.
#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A read-only view of `size` bytes at `data`; the owner keeps them alive and
// unchanged while the view is used.
struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;

  ByteSpan() = default;
  ByteSpan(const uint8_t* bytes, size_t count) : data(bytes), size(count) {}
  ByteSpan(const Bytes& bytes) : data(bytes.data()), size(bytes.size()) {}  // NOLINT: any vector reads as a view

  bool empty() const { return size == 0; }
  const uint8_t& operator[](size_t i) const { return data[i]; }
  const uint8_t* begin() const { return data; }
  const uint8_t* end() const { return data + size; }
  ByteSpan Sub(size_t from, size_t count) const { return ByteSpan(data + from, count); }
};
