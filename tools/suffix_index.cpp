#include "tools/suffix_index.h"

#include <algorithm>
#include <cstring>

namespace {

// Suffixes are first placed by their first two bytes (a suffix of one byte
// before those of two or more that start with it), then sorted within each
// bucket: a counting pass over the file, no second array of offsets.
constexpr size_t kBuckets = 256 * 257;

size_t BucketOf(const uint8_t* data, size_t size, size_t pos) {
  return data[pos] * size_t{257} + (pos + 1 < size ? data[pos + 1] + size_t{1} : 0);
}

constexpr size_t kCandidatesPerSide = 4;
constexpr size_t kNeighboursPerSide = 2;

}  // namespace

SuffixIndex::SuffixIndex(const uint8_t* data, size_t size, uint32_t stride, uint32_t depth,
                         const std::function<void(uint64_t, uint64_t)>& tick)
    : data_(data), size_(size), depth_(std::max<uint32_t>(depth, 2)) {
  stride = std::max<uint32_t>(stride, 1);
  std::vector<uint32_t> next(kBuckets + 1, 0);
  for (size_t pos = 0; pos < size; pos += stride) ++next[BucketOf(data, size, pos) + 1];
  for (size_t b = 0; b < kBuckets; ++b) next[b + 1] += next[b];
  const std::vector<uint32_t> start = next;
  sorted_.resize(next[kBuckets]);
  for (size_t pos = 0; pos < size; pos += stride)
    sorted_[next[BucketOf(data, size, pos)]++] = static_cast<uint32_t>(pos);

  const size_t depth_limit = depth_;
  const auto before = [&](uint32_t a, uint32_t b) {
    const size_t la = std::min(size - a, depth_limit);
    const size_t lb = std::min(size - b, depth_limit);
    const size_t common = std::min(la, lb);
    if (common > 2) {
      const int c = std::memcmp(data + a + 2, data + b + 2, common - 2);
      if (c != 0) return c < 0;
    }
    if (la != lb) return la < lb;
    return a < b;
  };
  constexpr size_t kTicks = 256;
  for (size_t b = 0; b < kBuckets; ++b) {
    if (start[b + 1] - start[b] > 1) std::sort(sorted_.begin() + start[b], sorted_.begin() + start[b + 1], before);
    if (tick && (b + 1) % (kBuckets / kTicks) == 0) tick(b + 1, kBuckets);
  }
}

int SuffixIndex::CompareTarget(uint32_t pos, const uint8_t* target, size_t limit, size_t skip, size_t& common) const {
  const size_t own = std::min<size_t>(size_ - pos, depth_);
  const size_t wanted = std::min<size_t>(limit, depth_);
  const size_t shorter = std::min(own, wanted);
  const uint8_t* suffix = data_ + pos;
  size_t k = std::min(skip, shorter);
  for (; shorter - k >= 8; k += 8) {
    uint64_t a, b;
    std::memcpy(&a, suffix + k, 8);
    std::memcpy(&b, target + k, 8);
    if (a != b) break;
  }
  while (k < shorter && suffix[k] == target[k]) ++k;
  common = k;
  if (k < shorter) return suffix[k] < target[k] ? -1 : 1;
  return own < wanted ? -1 : own > wanted ? 1 : 0;
}

size_t SuffixIndex::ExactLength(uint32_t pos, const uint8_t* target, size_t limit) const {
  const uint8_t* suffix = data_ + pos;
  const size_t end = std::min(size_ - pos, limit);
  size_t k = 0;
  for (; end - k >= 8; k += 8) {
    uint64_t a, b;
    std::memcpy(&a, suffix + k, 8);
    std::memcpy(&b, target + k, 8);
    if (a != b) break;
  }
  while (k < end && suffix[k] == target[k]) ++k;
  return k;
}

SuffixIndex::Match SuffixIndex::Find(const uint8_t* target, size_t target_size, uint32_t prefer, uint32_t penalty,
                                     uint32_t page_shift, uint32_t max_length) const {
  if (sorted_.empty() || target_size == 0) return Match();
  // The first suffix that does not sort before the target. Every suffix
  // between two others shares at least the shorter of their common prefixes
  // with the target, so each comparison starts behind that many bytes.
  size_t lo = 0, hi = sorted_.size();
  size_t common_lo = 0, common_hi = 0;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    size_t common = 0;
    if (CompareTarget(sorted_[mid], target, target_size, std::min(common_lo, common_hi), common) < 0) {
      lo = mid + 1;
      common_lo = common;
    } else {
      hi = mid;
      common_hi = common;
    }
  }
  const size_t first = lo;
  if (target_size >= depth_ && first < sorted_.size() && common_hi == depth_)
    return FindInGroup(first, target, target_size, prefer, penalty, page_shift, max_length);

  // No suffix shares `depth_` bytes: the longest matches are the neighbours
  // of `first` with the greatest common prefix, which is their length.
  const size_t best_common = std::max(first > 0 ? common_lo : 0, first < sorted_.size() ? common_hi : 0);
  if (best_common == 0) return Match();
  const uint32_t prefer_page = prefer >> page_shift;
  Match best;
  uint32_t best_rank = 0;
  const auto consider = [&](uint32_t pos) {
    // Same page first, then nearer (offsets are below 2^31), then the
    // smaller offset.
    const uint32_t distance = pos > prefer ? pos - prefer : prefer - pos;
    const uint32_t rank = ((pos >> page_shift) != prefer_page ? 0x80000000u : 0) | distance;
    if (best.length == 0 || rank < best_rank || (rank == best_rank && pos < best.pos)) {
      best = {pos, static_cast<uint32_t>(best_common)};
      best_rank = rank;
    }
  };
  size_t common = 0;
  for (size_t i = first, seen = 0; i > 0 && seen < kCandidatesPerSide; --i, ++seen) {
    CompareTarget(sorted_[i - 1], target, target_size, 0, common);
    if (common != best_common) break;
    consider(sorted_[i - 1]);
  }
  for (size_t i = first, seen = 0; i < sorted_.size() && seen < kCandidatesPerSide; ++i, ++seen) {
    CompareTarget(sorted_[i], target, target_size, 0, common);
    if (common != best_common) break;
    consider(sorted_[i]);
  }
  return best;
}

SuffixIndex::Match SuffixIndex::FindInGroup(size_t first, const uint8_t* target, size_t target_size, uint32_t prefer,
                                            uint32_t penalty, uint32_t page_shift, uint32_t max_length) const {
  // The suffixes equal to the target over `depth_` bytes, ordered by offset:
  // most such groups are small enough to walk.
  const size_t walk = std::min(sorted_.size(), first + 2 * kCandidatesPerSide);
  size_t end = first + 1;
  size_t common = 0;
  while (end < walk && CompareTarget(sorted_[end], target, target_size, 0, common) == 0) ++end;
  if (end == walk) {
    size_t hi = sorted_.size();
    while (end < hi) {
      const size_t mid = end + (hi - end) / 2;
      if (CompareTarget(sorted_[mid], target, target_size, 0, common) <= 0) {
        end = mid + 1;
      } else {
        hi = mid;
      }
    }
  }
  const size_t center =
      static_cast<size_t>(std::lower_bound(sorted_.begin() + first, sorted_.begin() + end, prefer) - sorted_.begin());
  const size_t from = std::max(first, center >= kCandidatesPerSide ? center - kCandidatesPerSide : 0);
  const size_t to = std::min(end, center + kCandidatesPerSide);

  const uint32_t prefer_page = prefer >> page_shift;
  const size_t limit = std::min<size_t>(target_size, max_length);
  Match best;
  int64_t best_score = 0;
  uint32_t best_distance = 0;
  for (size_t i = from; i < to; ++i) {
    const uint32_t pos = sorted_[i];
    const size_t length = ExactLength(pos, target, limit);
    const int64_t score = static_cast<int64_t>(length) - ((pos >> page_shift) != prefer_page ? penalty : 0);
    const uint32_t distance = pos > prefer ? pos - prefer : prefer - pos;
    if (best.length == 0 || score > best_score || (score == best_score && distance < best_distance)) {
      best = {pos, static_cast<uint32_t>(length)};
      best_score = score;
      best_distance = distance;
    }
  }
  return best;
}
