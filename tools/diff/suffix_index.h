#pragma once
// A sampled suffix index of parts of an old file: the suffixes starting at
// the offsets that are multiples of `stride` inside the given ranges, sorted
// by their first `depth` bytes (a suffix that ends sorts before its
// extensions; equal prefixes by offset). It costs about 5/stride bytes per
// byte of the ranges, where a full suffix array of the file costs 4 per byte
// of the file: the diff writer indexes only the old bytes that the new file
// does not already take over in long runs.
//
// A match that starts at an offset the index skips is still found from the
// next sampled offset inside it, up to stride - 1 bytes shorter; the matcher
// recovers those bytes by extending matches backwards.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "tools/common/byte_span.h"

class SuffixIndex {
 public:
  // [begin, end) offsets of the old file, ascending and disjoint.
  using Ranges = std::vector<std::pair<size_t, size_t>>;

  // Sorts the sampled suffixes of `data` that start inside `ranges`, on up
  // to `threads` threads (0: every core); the index is the same for any
  // number. The caller keeps `data` alive and unchanged while the index is
  // used. `tick`, when set, is called from the calling thread with (done,
  // total) a few hundred times at most while sorting.
  SuffixIndex(ByteSpan data, const Ranges& ranges, uint32_t stride, uint32_t depth, unsigned threads,
              const std::function<void(uint64_t, uint64_t)>& tick = {});

  // False when no sampled suffix starts with the first kSureBytes bytes of
  // the target: Find would then return a match shorter than that. True
  // otherwise, and now and then when none does (a filter of about one byte
  // per sampled suffix).
  static constexpr size_t kSureBytes = 8;
  bool MayMatch(const uint8_t* target, size_t target_size) const;

  struct Match {
    uint32_t pos = 0;
    uint32_t length = 0;  // 0: no sampled suffix shares even one byte
  };
  // A long match of `target[0, target_size)` among the sampled suffixes.
  // Candidates are the suffixes that share the most bytes with the target;
  // when many share all `depth` bytes, those nearest `prefer` (an old offset)
  // on either side. Each candidate's length is its exact match length,
  // counted up to `max_length` bytes. The winner has the greatest length
  // minus `penalty` when its page (offset >> page_shift) differs from the
  // page of `prefer`; ties go to the one nearer `prefer`, then the smaller
  // offset.
  Match Find(const uint8_t* target, size_t target_size, uint32_t prefer, uint32_t penalty, uint32_t page_shift,
             uint32_t max_length) const;

  size_t entries() const { return sorted_.size(); }

 private:
  // Compares the suffix at `pos` with target[0, limit) over at most `depth_`
  // bytes, the first `skip` of them known to be equal: <0, 0 or >0 as the
  // suffix sorts before, with or after it; `common` is set to the number of
  // equal leading bytes.
  int CompareTarget(uint32_t pos, const uint8_t* target, size_t limit, size_t skip, size_t& common) const;
  // Find among the suffixes from sorted_[first] on that share all `depth_`
  // bytes with the target.
  Match FindInGroup(size_t first, const uint8_t* target, size_t target_size, uint32_t prefer, uint32_t penalty,
                    uint32_t page_shift, uint32_t max_length) const;
  size_t ExactLength(uint32_t pos, const uint8_t* target, size_t limit) const;
  void SortBuckets(size_t first_bucket, size_t last_bucket);
  uint64_t FilterSlot(const uint8_t* bytes) const;

  const uint8_t* data_;
  size_t size_;
  uint32_t depth_;
  std::vector<uint32_t> sorted_;
  // Where each bucket of suffixes (by their first two bytes) starts in
  // sorted_, so that a search looks into one bucket only.
  std::vector<uint32_t> bucket_start_;
  // One bit per slot: set when a sampled suffix's first kSureBytes bytes
  // hash to it.
  std::vector<uint64_t> filter_;
  unsigned filter_shift_ = 64;
};
