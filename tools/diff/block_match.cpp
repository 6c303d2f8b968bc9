#include "tools/diff/block_match.h"

#include <algorithm>
#include <cstring>

#include "tools/common/parallel.h"

namespace {

// The rolling hash: sum of byte[i] * kMultiplier^(length - 1 - i), modulo
// 2^64.
constexpr uint64_t kMultiplier = 0x100000001B3ull;

uint64_t HashOf(const uint8_t* bytes, size_t length) {
  uint64_t hash = 0;
  for (size_t i = 0; i < length; ++i) hash = hash * kMultiplier + bytes[i];
  return hash;
}

uint64_t Power(uint64_t base, size_t exponent) {
  uint64_t result = 1;
  for (; exponent != 0; exponent >>= 1, base *= base)
    if (exponent & 1) result *= base;
  return result;
}

uint64_t Load64(const uint8_t* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, 8);
  return value;
}

// Equal bytes from a[0] and b[0] on, up to `limit`.
size_t ForwardRun(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t k = 0;
  for (; limit - k >= 8; k += 8)
    if (Load64(a + k) != Load64(b + k)) break;
  while (k < limit && a[k] == b[k]) ++k;
  return k;
}

// Equal bytes before a[0] and b[0], up to `limit`.
size_t BackwardRun(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t k = 0;
  while (k < limit && a[-1 - static_cast<ptrdiff_t>(k)] == b[-1 - static_cast<ptrdiff_t>(k)]) ++k;
  return k;
}

// The old blocks by hash: open addressing, each slot the top 32 bits of a
// block's hash and its block number plus one (0: empty). Of blocks with the
// same hash only the first is kept, so lookups do not depend on the order
// blocks went in. A bitmap of eight bits per block, far smaller than the
// slots, answers most lookups of hashes that are not there.
class BlockTable {
 public:
  explicit BlockTable(const std::vector<uint64_t>& hashes) {
    unsigned bits = 10;
    while ((size_t{1} << bits) < hashes.size() + hashes.size() / 2) ++bits;
    mask_ = (size_t{1} << bits) - 1;
    slots_.assign(mask_ + 1, 0);
    unsigned filter_bits = 12;
    while ((size_t{1} << filter_bits) < hashes.size() * 8) ++filter_bits;
    filter_shift_ = 64 - filter_bits;
    filter_.assign((size_t{1} << filter_bits) / 64, 0);
    for (size_t block = 0; block < hashes.size(); ++block) {
      const uint64_t bit = hashes[block] >> filter_shift_;
      filter_[bit >> 6] |= uint64_t{1} << (bit & 63);
      const uint32_t check = static_cast<uint32_t>(hashes[block] >> 32);
      for (size_t slot = Slot(hashes[block]);; slot = (slot + 1) & mask_) {
        const uint64_t entry = slots_[slot];
        if (entry == 0) {
          slots_[slot] = (uint64_t{check} << 32) | (block + 1);
          break;
        }
        if (static_cast<uint32_t>(entry >> 32) == check) break;
      }
    }
  }
  // The first old block with this hash, or -1.
  int64_t Find(uint64_t hash) const {
    const uint64_t bit = hash >> filter_shift_;
    if (((filter_[bit >> 6] >> (bit & 63)) & 1) == 0) return -1;
    const uint32_t check = static_cast<uint32_t>(hash >> 32);
    for (size_t slot = Slot(hash);; slot = (slot + 1) & mask_) {
      const uint64_t entry = slots_[slot];
      if (entry == 0) return -1;
      if (static_cast<uint32_t>(entry >> 32) == check) return static_cast<int64_t>(entry & 0xFFFFFFFF) - 1;
    }
  }

 private:
  size_t Slot(uint64_t hash) const { return static_cast<size_t>((hash * 0x9E3779B97F4A7C15ull) >> 20) & mask_; }
  size_t mask_ = 0;
  std::vector<uint64_t> slots_;
  unsigned filter_shift_ = 64;
  std::vector<uint64_t> filter_;
};

// New bytes are scanned in segments of this size, each on its own: the runs
// do not depend on which thread scans which segment.
constexpr size_t kSegment = size_t{8} << 20;

class Scanner {
 public:
  Scanner(ByteSpan old_file, ByteSpan new_file, uint32_t block, const BlockTable& table, uint32_t min_length)
      : old_(old_file),
        new_(new_file),
        block_(block),
        table_(table),
        min_length_(min_length),
        top_power_(Power(kMultiplier, block - 1)) {}

  // The runs found from [begin, end) of the new file on.
  std::vector<Anchor> Scan(size_t begin, size_t end) const {
    std::vector<Anchor> found;
    int64_t offset = 0;  // old minus new position of the last run
    bool have_offset = false;
    size_t p = begin;
    uint64_t hash = 0;
    bool hashed = false;
    while (p < end && p + block_ <= new_.size) {
      if (!hashed) {
        hash = HashOf(new_.data + p, block_);
        hashed = true;
      }
      Anchor best;
      // A run is followed up to min_length bytes beyond the segment on
      // either side: enough to tell whether it is long enough, while the
      // segments' work stays apart (the parts of a longer run found from
      // two segments are joined afterwards).
      const auto consider = [&](size_t old_pos) {
        if (old_pos + block_ > old_.size || std::memcmp(old_.data + old_pos, new_.data + p, block_) != 0) return;
        const size_t ahead = std::min({old_.size - old_pos, new_.size - p, end + min_length_ - p});
        const size_t forward =
            block_ + ForwardRun(old_.data + old_pos + block_, new_.data + p + block_, ahead - block_);
        const size_t backward =
            BackwardRun(old_.data + old_pos, new_.data + p, std::min({old_pos, p, p - begin + min_length_}));
        if (forward + backward > best.length)
          best = {static_cast<uint32_t>(p - backward), static_cast<uint32_t>(old_pos - backward),
                  static_cast<uint32_t>(forward + backward)};
      };
      // Where the last run's alignment goes on, it is tried first and wins
      // ties: bytes that occur more than once in the old file are then
      // taken from where the neighbouring bytes came from.
      if (have_offset && static_cast<int64_t>(p) + offset >= 0) consider(static_cast<size_t>(p + offset));
      const int64_t block_number = table_.Find(hash);
      if (block_number >= 0) consider(static_cast<size_t>(block_number) * block_);
      if (best.length >= min_length_) {
        found.push_back(best);
        offset = static_cast<int64_t>(best.old_pos) - best.new_pos;
        have_offset = true;
        p = best.new_end();
        hashed = false;
        continue;
      }
      // A shorter run is skipped but for its last block, where a longer
      // one may start.
      const size_t next = best.length != 0 ? std::max(p + 1, size_t{best.new_end()} - block_ + 1) : p + 1;
      if (next != p + 1 || p + 1 + block_ > new_.size) {
        p = next;
        hashed = false;
        continue;
      }
      hash = (hash - new_.data[p] * top_power_) * kMultiplier + new_.data[p + block_];
      ++p;
    }
    return found;
  }

 private:
  ByteSpan old_, new_;
  uint32_t block_;
  const BlockTable& table_;
  uint32_t min_length_;
  uint64_t top_power_;
};

// The runs in new-file order without overlaps: a run that starts inside the
// one before is merged with it when both take the same old bytes, cut to
// begin where the one before ends otherwise (and dropped when too short
// then, or when it lies wholly inside).
std::vector<Anchor> Disjoint(const std::vector<std::vector<Anchor>>& segments, uint32_t min_length) {
  std::vector<Anchor> runs;
  for (const auto& segment : segments) {
    for (Anchor a : segment) {
      if (!runs.empty()) {
        Anchor& last = runs.back();
        if (a.new_end() <= last.new_end()) continue;
        if (a.new_pos < last.new_end()) {
          const uint32_t cut = last.new_end() - a.new_pos;
          if (static_cast<int64_t>(a.old_pos) - a.new_pos == static_cast<int64_t>(last.old_pos) - last.new_pos) {
            last.length += a.length - cut;
            continue;
          }
          a = {a.new_pos + cut, a.old_pos + cut, a.length - cut};
          if (a.length < min_length) continue;
        }
      }
      runs.push_back(a);
    }
  }
  return runs;
}

}  // namespace

uint32_t BlockSize(uint64_t old_size) {
  uint32_t block = 256;
  while ((old_size / block) > (uint64_t{1} << 22)) block *= 2;
  return block;
}

std::vector<Anchor> FindAnchors(ByteSpan old_file, ByteSpan new_file, const AnchorOptions& options) {
  const uint32_t block = BlockSize(old_file.size);
  const uint32_t min_length = std::max(options.min_length, block);
  if (old_file.size < block || new_file.size < min_length) return {};

  // The old blocks' hashes, in parallel pieces.
  std::vector<uint64_t> hashes(old_file.size / block);
  constexpr size_t kHashPiece = size_t{1} << 14;  // blocks
  const size_t hash_pieces = (hashes.size() + kHashPiece - 1) / kHashPiece;
  const uint64_t total = uint64_t{old_file.size} + new_file.size;
  ParallelFor(
      hash_pieces, options.threads,
      [&](size_t piece) {
        const size_t first = piece * kHashPiece, last = std::min(hashes.size(), first + kHashPiece);
        for (size_t b = first; b < last; ++b) hashes[b] = HashOf(old_file.data + b * block, block);
      },
      [&](size_t done) {
        if (options.progress) options.progress(std::min<uint64_t>(old_file.size, done * kHashPiece * block), total);
      });
  const BlockTable table(hashes);
  hashes = std::vector<uint64_t>();

  const Scanner scanner(old_file, new_file, block, table, min_length);
  const size_t segments = (new_file.size + kSegment - 1) / kSegment;
  std::vector<std::vector<Anchor>> found(segments);
  ParallelFor(
      segments, options.threads,
      [&](size_t s) {
        const size_t begin = s * kSegment, end = std::min(new_file.size, begin + kSegment);
        found[s] = scanner.Scan(begin, end);
        if (options.release) options.release(false, begin, end);
      },
      [&](size_t done) {
        if (options.progress) options.progress(old_file.size + std::min(new_file.size, done * kSegment), total);
      });
  return Disjoint(found, min_length);
}
