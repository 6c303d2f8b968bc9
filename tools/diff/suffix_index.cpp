#include "tools/diff/suffix_index.h"

#include <algorithm>
#include <cstring>

#include "tools/common/parallel.h"

namespace {

// Suffixes are first placed by their first two bytes (a suffix of one byte
// before those of two or more that start with it), then sorted within each
// bucket: a counting pass over the ranges, no second array of offsets.
constexpr size_t kBuckets = 256 * 257;

size_t BucketOf(const uint8_t* data, size_t size, size_t pos) {
  return data[pos] * size_t{257} + (pos + 1 < size ? data[pos + 1] + size_t{1} : 0);
}

constexpr size_t kCandidatesPerSide = 4;

// Bytes 2..9 of a suffix as one number that sorts as they do (missing bytes
// as zeros: suffixes whose keys are equal are compared byte by byte).
uint64_t SortKey(const uint8_t* data, size_t size, size_t pos) {
  uint64_t key = 0;
  for (size_t i = 2; i < 10; ++i) key = (key << 8) | (pos + i < size ? data[pos + i] : 0);
  return key;
}

uint64_t Load64(const uint8_t* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, 8);
  return value;
}

}  // namespace

uint64_t SuffixIndex::FilterSlot(const uint8_t* bytes) const {
  return (Load64(bytes) * 0x9E3779B97F4A7C15ull) >> filter_shift_;
}

SuffixIndex::SuffixIndex(ByteSpan data, const Ranges& ranges, uint32_t stride, uint32_t depth, unsigned threads,
                         const std::function<void(uint64_t, uint64_t)>& tick)
    : data_(data.data), size_(data.size), depth_(std::max<uint32_t>(depth, 2)) {
  stride = std::max<uint32_t>(stride, 1);
  const auto each_sample = [&](const auto& visit) {
    for (const auto& range : ranges)
      for (size_t pos = (range.first + stride - 1) / stride * stride; pos < range.second; pos += stride) visit(pos);
  };
  bucket_start_.assign(kBuckets + 1, 0);
  each_sample([&](size_t pos) { ++bucket_start_[BucketOf(data_, size_, pos) + 1]; });
  for (size_t b = 0; b < kBuckets; ++b) bucket_start_[b + 1] += bucket_start_[b];
  sorted_.resize(bucket_start_[kBuckets]);
  {
    std::vector<uint32_t> next(bucket_start_.begin(), bucket_start_.end() - 1);
    each_sample([&](size_t pos) { sorted_[next[BucketOf(data_, size_, pos)]++] = static_cast<uint32_t>(pos); });
  }

  // Buckets are sorted apart, in pieces of about equal work.
  std::vector<std::pair<size_t, size_t>> pieces;
  const size_t piece = std::max<size_t>(sorted_.size() / 256, 4096);
  for (size_t b = 0; b < kBuckets;) {
    size_t e = b + 1;
    while (e < kBuckets && bucket_start_[e + 1] - bucket_start_[b] < piece) ++e;
    pieces.emplace_back(b, e);
    b = e;
  }
  ParallelFor(
      pieces.size(), threads, [&](size_t i) { SortBuckets(pieces[i].first, pieces[i].second); },
      [&](size_t done) {
        if (tick) tick(done, pieces.size());
      });

  if (sorted_.size() >= 2 && size_ >= kSureBytes) {
    filter_shift_ = 64 - 16;
    while ((uint64_t{1} << (64 - filter_shift_)) < sorted_.size() * 8 && filter_shift_ > 32) --filter_shift_;
    filter_.assign((size_t{1} << (64 - filter_shift_)) / 64, 0);
    for (const uint32_t pos : sorted_) {
      if (pos + kSureBytes > size_) continue;
      const uint64_t slot = FilterSlot(data_ + pos);
      filter_[slot >> 6] |= uint64_t{1} << (slot & 63);
    }
  }
}

void SuffixIndex::SortBuckets(size_t first_bucket, size_t last_bucket) {
  const size_t depth_limit = depth_;
  const uint8_t* data = data_;
  const size_t size = size_;
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
  // Sorted by the key of bytes 2..9 first, held beside the offset so that
  // most comparisons touch no file bytes.
  std::vector<std::pair<uint64_t, uint32_t>> keyed;
  for (size_t b = first_bucket; b < last_bucket; ++b) {
    const size_t begin = bucket_start_[b], end = bucket_start_[b + 1];
    if (end - begin < 2) continue;
    keyed.clear();
    for (size_t i = begin; i < end; ++i) keyed.emplace_back(SortKey(data, size, sorted_[i]), sorted_[i]);
    std::sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) {
      if (x.first != y.first) return x.first < y.first;
      return before(x.second, y.second);
    });
    for (size_t i = begin; i < end; ++i) sorted_[i] = keyed[i - begin].second;
  }
}

bool SuffixIndex::MayMatch(const uint8_t* target, size_t target_size) const {
  if (target_size < kSureBytes || filter_.empty()) return true;
  const uint64_t slot = FilterSlot(target);
  return (filter_[slot >> 6] >> (slot & 63)) & 1;
}

int SuffixIndex::CompareTarget(uint32_t pos, const uint8_t* target, size_t limit, size_t skip, size_t& common) const {
  const size_t own = std::min<size_t>(size_ - pos, depth_);
  const size_t wanted = std::min<size_t>(limit, depth_);
  const size_t shorter = std::min(own, wanted);
  const uint8_t* suffix = data_ + pos;
  size_t k = std::min(skip, shorter);
  for (; shorter - k >= 8; k += 8)
    if (Load64(suffix + k) != Load64(target + k)) break;
  while (k < shorter && suffix[k] == target[k]) ++k;
  common = k;
  if (k < shorter) return suffix[k] < target[k] ? -1 : 1;
  return own < wanted ? -1 : own > wanted ? 1 : 0;
}

size_t SuffixIndex::ExactLength(uint32_t pos, const uint8_t* target, size_t limit) const {
  const uint8_t* suffix = data_ + pos;
  const size_t end = std::min(size_ - pos, limit);
  size_t k = 0;
  for (; end - k >= 8; k += 8)
    if (Load64(suffix + k) != Load64(target + k)) break;
  while (k < end && suffix[k] == target[k]) ++k;
  return k;
}

SuffixIndex::Match SuffixIndex::Find(const uint8_t* target, size_t target_size, uint32_t prefer, uint32_t penalty,
                                     uint32_t page_shift, uint32_t max_length) const {
  if (sorted_.empty() || target_size == 0) return Match();
  // The first suffix that does not sort before the target: every suffix of
  // an earlier bucket does, none of a later one. Inside the bucket, every
  // suffix between two others shares at least the shorter of their common
  // prefixes with the target, so each comparison starts behind that many
  // bytes.
  const size_t bucket = target[0] * size_t{257} + (target_size > 1 ? target[1] + size_t{1} : 0);
  size_t lo = bucket_start_[bucket], hi = bucket_start_[bucket + 1];
  const size_t known = target_size > 1 ? 2 : 1;
  size_t common_lo = 0, common_hi = 0;
  bool lo_seen = false, hi_seen = false;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    size_t common = 0;
    const size_t skip = std::max(known, std::min(lo_seen ? common_lo : 0, hi_seen ? common_hi : 0));
    if (CompareTarget(sorted_[mid], target, target_size, skip, common) < 0) {
      lo = mid + 1;
      common_lo = common;
      lo_seen = true;
    } else {
      hi = mid;
      common_hi = common;
      hi_seen = true;
    }
  }
  const size_t first = lo;
  if (!lo_seen && first > 0) CompareTarget(sorted_[first - 1], target, target_size, 0, common_lo);
  if (!hi_seen && first < sorted_.size()) CompareTarget(sorted_[first], target, target_size, 0, common_hi);
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
  // most such groups are small enough to walk. They all lie in the target's
  // bucket.
  const size_t bucket = target[0] * size_t{257} + target[1] + 1;
  const size_t bucket_end = bucket_start_[bucket + 1];
  const size_t walk = std::min(bucket_end, first + 2 * kCandidatesPerSide);
  size_t end = first + 1;
  size_t common = 0;
  while (end < walk && CompareTarget(sorted_[end], target, target_size, 0, common) == 0) ++end;
  if (end == walk) {
    size_t hi = bucket_end;
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
