#pragma once
// A sampled suffix index of an old file: the suffixes starting at every
// `stride`-th offset, sorted by their first `depth` bytes (a suffix that ends
// sorts before its extensions; equal prefixes by offset). It costs 4/stride
// bytes per byte of the file, where a full suffix array costs 4.
//
// A match that starts at an offset the index skips is still found from the
// next sampled offset inside it, up to stride - 1 bytes shorter; the matcher
// recovers those bytes by extending matches backwards.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class SuffixIndex {
 public:
  // Sorts the sampled suffixes of `data[0, size)`, which the caller keeps
  // alive and unchanged while the index is used. `tick`, when set, is called
  // with (done, total) a few hundred times at most while sorting.
  SuffixIndex(const uint8_t* data, size_t size, uint32_t stride, uint32_t depth,
              const std::function<void(uint64_t, uint64_t)>& tick = {});

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

  const uint8_t* data_;
  size_t size_;
  uint32_t depth_;
  std::vector<uint32_t> sorted_;
};
