// The diff decoder on arbitrary old files and streams: no crash, no read
// outside either input, the cursor never beyond the old file, and no more
// output than the stream can describe (a literal at most one byte per stream
// byte, a copy command of at least two bytes at most the old file's size),
// and the same result whether the decoder works in blocks or byte by byte.
// Input layout: two bytes giving the old file's length (cut to what
// follows), the old file, then the diff stream.
#include <cstdint>
#include <vector>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t rest = size - 2;
  size_t old_size = static_cast<size_t>(data[0]) << 8 | data[1];
  if (old_size > rest) old_size = rest;
  // Exact-size copies, so that the sanitizers see any read past an input.
  const std::vector<uint8_t> old_file(data + 2, data + 2 + old_size);
  const std::vector<uint8_t> diff(data + 2 + old_size, data + size);

  MemoryReader old_reader(old_file);
  MemoryReader diff_reader(diff);
  MemoryWriter writer(size_t{64} << 20);
  const bool ok = DecodeDiff(writer, old_reader, diff_reader);

  // The byte-by-byte path must agree with the block path in everything.
  BytewiseReader old_bytes(old_file);
  BytewiseReader diff_bytes(diff);
  BytewiseWriter byte_writer(size_t{64} << 20);
  const bool byte_ok = DecodeDiff(byte_writer, old_bytes, diff_bytes);
  if (byte_ok != ok || byte_writer.inner.bytes != writer.bytes || (ok && old_bytes.position != old_reader.position))
    __builtin_trap();

  if (old_reader.position > old_reader.size) __builtin_trap();
  if (diff_reader.position > diff_reader.size) __builtin_trap();
  const uint64_t bound = diff.size() + (diff.size() / 2) * static_cast<uint64_t>(old_file.size());
  if (writer.bytes.size() > bound) __builtin_trap();
  return 0;
}
