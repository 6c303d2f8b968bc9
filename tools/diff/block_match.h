#pragma once
// The long runs of a new file that are old bytes, moved or not, found
// cheaply: a hash of every aligned block of the old file, and a rolling hash
// of the same length over the new file looked up at every byte the runs
// found so far leave open. Most of a changed game archive is such runs; the
// diff writer then matches only what lies between them in detail.
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/common/byte_span.h"

// new[new_pos, new_pos + length) equals old[old_pos, old_pos + length).
struct Anchor {
  uint32_t new_pos = 0;
  uint32_t old_pos = 0;
  uint32_t length = 0;
  uint32_t new_end() const { return new_pos + length; }
};

struct AnchorOptions {
  // Runs shorter than this are left to the detailed matcher.
  uint32_t min_length = 4096;
  // Threads (0: every core); the runs are the same for any number.
  unsigned threads = 0;
  // Called from the calling thread with the bytes done so far, the old
  // file's (hashed) and then the new file's (scanned), and the two sizes'
  // sum; may be empty.
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Called when the finder is done with a range of the new file for now
  // (old: false), so that its pages can be given back; may be empty.
  std::function<void(bool old, size_t from, size_t to)> release;
};

// The runs of at least options.min_length bytes, ascending and disjoint in
// the new file, each as long as the bytes agree on both sides. Every run of
// at least 2 * BlockSize(old size) + min_length bytes is found (maybe in
// another copy of the same old bytes). Memory: about 13 bytes per old block.
// Deterministic. Both files must be smaller than 4 GiB.
std::vector<Anchor> FindAnchors(ByteSpan old_file, ByteSpan new_file, const AnchorOptions& options);

// The block length for an old file of `old_size` bytes: 256 bytes, doubled
// until the old file has at most 2^22 blocks.
uint32_t BlockSize(uint64_t old_size);
