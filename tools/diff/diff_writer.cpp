#include "tools/diff/diff_writer.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>

#include "diff/diff_decoder.h"
#include "tools/common/parallel.h"
#include "tools/diff/block_match.h"
#include "tools/diff/suffix_index.h"

void AppendDiffNumber(Bytes& out, uint64_t value) {
  if (value >= 1 && value <= 252) {
    out.push_back(static_cast<uint8_t>(value - 1));
  } else if (value >= 253 && value <= 508) {
    out.push_back(252);
    out.push_back(static_cast<uint8_t>(value - 253));
  } else {
    const int length = value <= 0xFFFF ? 2 : value <= 0xFFFFFFFFull ? 4 : 8;
    out.push_back(length == 2 ? 253 : length == 4 ? 254 : 255);
    for (int shift = (length - 1) * 8; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

// Every byte goes out through here or Literal(), so that a literal 0xA7 left
// single can still be doubled when the byte after it turns out to be one that
// would make it a command.
void DiffStreamWriter::Command(uint8_t opcode) {
  if (bare_escape_) out_.push_back(kDiffEscape);
  bare_escape_ = false;
  out_.push_back(kDiffEscape);
  out_.push_back(opcode);
}

void DiffStreamWriter::EnterMode(Mode mode, uint8_t opcode) {
  if (mode_ == mode) return;
  Command(opcode);
  mode_ = mode;
}

void DiffStreamWriter::SeekTo(uint32_t old_pos) {
  if (old_pos == cursor_) return;
  if (old_pos > cursor_) {
    Command(kDiffSeekForward);
    AppendDiffNumber(out_, old_pos - cursor_);
  } else {
    Command(kDiffSeekBack);
    AppendDiffNumber(out_, cursor_ - old_pos);
  }
  mode_ = Mode::Seek;
  cursor_ = old_pos;
}

void DiffStreamWriter::Literal(uint8_t byte) {
  // A pending single 0xA7 followed by 0xA2..0xA7 would be read as a command
  // or an escaped escape: double it. Any other byte forms an escape pair with
  // it, which the decoder reads as the two literals.
  const bool takes_pair = bare_escape_ && !(byte >= kDiffSeekBack && byte <= kDiffEscape);
  if (bare_escape_ && !takes_pair) out_.push_back(kDiffEscape);
  out_.push_back(byte);
  bare_escape_ = !takes_pair && byte == kDiffEscape;
}

// The decoder reads old bytes [from, from + count) in order; each byte of a
// page other than the resident one loads that page.
void DiffStreamWriter::ReadOld(uint32_t from, uint64_t count) {
  if (count == 0) return;
  const uint32_t first = from >> kOldPageShift;
  const uint32_t last = static_cast<uint32_t>((from + count - 1) >> kOldPageShift);
  page_loads_ += (first != page_ ? 1 : 0) + (last - first);
  page_ = last;
}

void DiffStreamWriter::Copy(uint32_t old_pos, uint32_t count) {
  if (count == 0) return;
  ReadOld(old_pos, count);
  SeekTo(old_pos);
  Command(kDiffCopy);
  AppendDiffNumber(out_, count);
  mode_ = Mode::Copy;
  cursor_ = old_pos + count;
}

void DiffStreamWriter::Replace(uint32_t old_pos, const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  ReadOld(old_pos, std::min<uint64_t>(count, old_size_ - std::min(old_pos, old_size_)));
  SeekTo(old_pos);
  EnterMode(Mode::Replace, kDiffReplaceMode);
  for (size_t i = 0; i < count; ++i) Literal(bytes[i]);
  cursor_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{old_pos} + count, old_size_));
}

void DiffStreamWriter::Insert(const uint8_t* bytes, size_t count) {
  if (count == 0) return;
  EnterMode(Mode::Insert, kDiffInsertMode);
  for (size_t i = 0; i < count; ++i) Literal(bytes[i]);
}

Bytes DiffStreamWriter::Finish() {
  // A stream that ends in a single 0xA7 would end inside a command.
  if (bare_escape_) out_.push_back(kDiffEscape);
  bare_escape_ = false;
  return std::move(out_);
}

namespace {

enum class OpKind : uint8_t { Copy, Replace, Insert };

// One command of the stream to be: new[new_pos, +length) is old bytes from
// old_pos on (Copy), stands in for them (Replace) or is inserted (Insert).
struct DiffOp {
  uint32_t old_pos;
  uint32_t new_pos;
  uint32_t length;
  OpKind kind;
};

// The commands of one part of the new file, adjoining ones of a kind joined,
// and the old-file pages the patcher's reader would load for them, counted
// from an estimate of the loads before the part (see PagePenalty).
class OpList {
 public:
  OpList(uint32_t old_size, uint32_t page, uint64_t loads) : old_size_(old_size), page_(page), page_loads_(loads) {}

  void Copy(uint32_t old_pos, uint32_t new_pos, uint32_t count) {
    if (count == 0) return;
    ReadOld(old_pos, count);
    Append(OpKind::Copy, old_pos, new_pos, count);
  }
  void Replace(uint32_t old_pos, uint32_t new_pos, uint32_t count) {
    if (count == 0) return;
    ReadOld(old_pos, std::min<uint64_t>(count, old_size_ - std::min(old_pos, old_size_)));
    Append(OpKind::Replace, old_pos, new_pos, count);
  }
  void Insert(uint32_t new_pos, uint32_t count) {
    if (count == 0) return;
    Append(OpKind::Insert, 0, new_pos, count);
  }
  uint64_t page_loads() const { return page_loads_; }
  const std::deque<DiffOp>& ops() const { return ops_; }

 private:
  // As DiffStreamWriter::ReadOld.
  void ReadOld(uint32_t from, uint64_t count) {
    const uint32_t first = from >> kOldPageShift;
    const uint32_t last = static_cast<uint32_t>((from + count - 1) >> kOldPageShift);
    page_loads_ += (first != page_ ? 1 : 0) + (last - first);
    page_ = last;
  }
  void Append(OpKind kind, uint32_t old_pos, uint32_t new_pos, uint32_t count) {
    if (!ops_.empty()) {
      DiffOp& last = ops_.back();
      const bool follows = last.kind == kind && last.new_pos + last.length == new_pos &&
                           (kind == OpKind::Insert || last.old_pos + last.length == old_pos);
      if (follows) {
        last.length += count;
        return;
      }
    }
    ops_.push_back({old_pos, new_pos, count, kind});
  }

  uint32_t old_size_;
  uint32_t page_;
  uint64_t page_loads_;
  std::deque<DiffOp> ops_;  // grows in blocks: no copy, no spare half as a vector has
};

// Writes an approximate match: new[new_pos..+length) against old[old_pos..),
// equal runs of at least min_copy bytes as copies, the rest as replaced bytes.
void EmitAligned(OpList& out, const uint8_t* old_file, const uint8_t* new_file, size_t old_pos, size_t new_pos,
                 size_t length, uint32_t min_copy) {
  size_t i = 0;
  while (i < length) {
    size_t run = 0;
    while (i + run < length && old_file[old_pos + i + run] == new_file[new_pos + i + run]) ++run;
    if (run >= min_copy || (run > 0 && i + run == length && run >= 3)) {
      out.Copy(static_cast<uint32_t>(old_pos + i), static_cast<uint32_t>(new_pos + i), static_cast<uint32_t>(run));
      i += run;
      continue;
    }
    // Literals up to the next equal run that is worth a copy.
    size_t end = i + run;
    while (end < length) {
      if (old_file[old_pos + end] != new_file[new_pos + end]) {
        ++end;
        continue;
      }
      size_t equal = 0;
      while (end + equal < length && old_file[old_pos + end + equal] == new_file[new_pos + end + equal]) ++equal;
      if (equal >= min_copy) break;
      end += equal;
    }
    out.Replace(static_cast<uint32_t>(old_pos + i), static_cast<uint32_t>(new_pos + i), static_cast<uint32_t>(end - i));
    i = end;
  }
}

// The penalty a match in another page than the cursor's pays: low while the
// page loads so far stay within their share of the budget, high beyond it.
class PagePenalty {
 public:
  PagePenalty(const DiffOptions& options, size_t old_size, size_t new_size)
      : options_(options),
        new_size_(std::max<size_t>(new_size, 1)),
        budget_(options.page_budget * static_cast<double>((old_size >> kOldPageShift) + 1)) {}
  // The loads the budget allows before new position `scan`.
  double Share(int64_t scan) const {
    return 1.0 + budget_ * static_cast<double>(scan) / static_cast<double>(new_size_);
  }
  uint32_t At(int64_t scan, uint64_t loads) const {
    return static_cast<double>(loads) <= Share(scan) ? options_.page_penalty : options_.over_budget_penalty;
  }

 private:
  const DiffOptions& options_;
  size_t new_size_;
  double budget_;
};

// Reports one stage's progress through the options' callback, at most about
// 200 times per stage, the first time at once.
class StageProgress {
 public:
  StageProgress(const DiffOptions& options, const char* stage, uint64_t total)
      : options_(options), stage_(stage), total_(total), step_(std::max<uint64_t>(total / 200, 1)) {
    At(0);
  }
  void At(uint64_t done) {
    if (!options_.progress || done < next_) return;
    options_.progress(stage_, done, total_);
    next_ = done + step_;
  }

 private:
  const DiffOptions& options_;
  const char* stage_;
  uint64_t total_, step_, next_ = 0;
};

// Candidates are compared over at most this many bytes; a longer match is
// taken in steps.
constexpr uint32_t kMaxMatchLength = 1 << 16;

// The number of equal bytes from old[old_pos] and new[new_pos] on, up to
// kMaxMatchLength and the end of the part; 0 when old_pos is outside the old
// file.
int64_t AlignedRun(ByteSpan old_file, const uint8_t* new_data, int64_t old_pos, int64_t new_pos, int64_t end) {
  if (old_pos < 0 || old_pos >= static_cast<int64_t>(old_file.size)) return 0;
  const int64_t limit =
      std::min<int64_t>({static_cast<int64_t>(old_file.size) - old_pos, end - new_pos, kMaxMatchLength});
  int64_t k = 0;
  while (k < limit && old_file[old_pos + k] == new_data[new_pos + k]) ++k;
  return k;
}

constexpr uint32_t kIndexDepth = 64;

// A stretch of the new file between runs found by FindAnchors, or a part of
// one: [begin, end), matched starting from the alignment `offset` (old minus
// new position) and ending in the run `next`, if one follows.
struct Piece {
  uint32_t begin = 0, end = 0;
  int64_t offset = 0;
  const Anchor* next = nullptr;
};

// Stretches longer than this are matched in parts that end at multiples of
// it, each starting from the alignment of the run before the stretch.
constexpr uint32_t kPartLength = 32u << 20;
// Pieces are matched in units of about this many new bytes.
constexpr uint64_t kUnitBytes = 1u << 20;

std::vector<Piece> PiecesBetween(const std::vector<Anchor>& anchors, size_t new_size) {
  std::vector<Piece> pieces;
  uint32_t begin = 0;
  int64_t offset = 0;
  for (size_t i = 0; i <= anchors.size(); ++i) {
    const uint32_t end = i < anchors.size() ? anchors[i].new_pos : static_cast<uint32_t>(new_size);
    for (uint32_t at = begin; at < end || (at == begin && at == end);) {
      const uint32_t cut = std::min<uint32_t>(end, (at / kPartLength + 1) * kPartLength);
      pieces.push_back({at, cut, offset, cut == end && i < anchors.size() ? &anchors[i] : nullptr});
      if (cut == end) break;
      at = cut;
    }
    if (i < anchors.size()) {
      begin = anchors[i].new_end();
      offset = static_cast<int64_t>(anchors[i].old_pos) - anchors[i].new_pos;
    }
  }
  return pieces;
}

class PieceMatcher {
 public:
  PieceMatcher(ByteSpan old_file, ByteSpan new_file, const SuffixIndex& index, const DiffOptions& options)
      : old_(old_file), new_(new_file), index_(index), options_(options),
        penalty_(options, old_file.size, new_file.size) {}

  // The piece's commands, with the run that ends it, into `out`.
  void Match(const Piece& piece, OpList& out) const;
  // Where a unit's count of loads starts, the loads before it being
  // unknown while units are matched at once: those of one pass over the old
  // file in proportion to the new bytes before it. That is below the
  // budget's share there (page_budget passes), as a whole-file run mostly
  // stays, so that a unit can still afford loads of its own.
  uint64_t LoadsBefore(const Piece& piece) const {
    const double pages = static_cast<double>((old_.size >> kOldPageShift) + 1);
    return static_cast<uint64_t>(1.0 + pages * piece.begin / std::max<double>(1.0, static_cast<double>(new_.size)));
  }

 private:
  ByteSpan old_, new_;
  const SuffixIndex& index_;
  const DiffOptions& options_;
  PagePenalty penalty_;
};

void PieceMatcher::Match(const Piece& piece, OpList& out) const {
  const uint8_t* o = old_.data;
  const uint8_t* n = new_.data;
  const int64_t osize = static_cast<int64_t>(old_.size);
  const int64_t end = piece.end;
  // Positions are signed so that the offset between old and new may be
  // negative; every value fits, the files being below 2 GiB.
  int64_t scan = piece.begin, len = 0, pos = 0;
  int64_t last_scan = piece.begin, last_pos = piece.begin + piece.offset, last_offset = piece.offset;
  for (;;) {
    int64_t old_score = 0;
    int64_t scsc = scan += len;
    for (; scan < end; ++scan) {
      // The old offset the current alignment gives here: where the cursor
      // is, or goes without a seek.
      const uint32_t prefer = static_cast<uint32_t>(std::clamp<int64_t>(scan + last_offset, 0, osize - 1));
      const uint32_t far = penalty_.At(scan, out.page_loads());
      // Where the current alignment goes on matching, it is the match: the
      // index may not hold its offset (sampled), and it costs no seek.
      const int64_t aligned_run = AlignedRun(old_, n, scan + last_offset, scan, end);
      if (aligned_run >= options_.aligned_run) {
        len = aligned_run;
        pos = scan + last_offset;
      } else if (!index_.MayMatch(n + scan, static_cast<size_t>(end - scan))) {
        // No indexed suffix shares the next few bytes: no match here could
        // be long enough to be taken.
        len = 0;
        pos = 0;
      } else {
        const SuffixIndex::Match match = index_.Find(n + scan, static_cast<size_t>(end - scan), prefer, far,
                                                     kOldPageShift, kMaxMatchLength);
        len = match.length;
        pos = match.pos;
      }
      for (; scsc < scan + len; ++scsc)
        if (scsc + last_offset < osize && o[scsc + last_offset] == n[scsc]) ++old_score;
      // A new match that the current alignment does not already give, and
      // that is long enough to pay for a seek, and a page load when it lies
      // in another page.
      const int64_t cost = options_.min_gain + ((pos >> kOldPageShift) != (prefer >> kOldPageShift) ? far : 0);
      if ((len == old_score && len != 0) || len > old_score + cost) break;
      if (scan + last_offset < osize && o[scan + last_offset] == n[scan]) --old_score;
    }
    if (len == old_score && scan != end) continue;
    const bool at_end = scan >= end;
    // At the end of the piece the run that follows, if any, is the match.
    if (at_end && piece.next != nullptr) pos = piece.next->old_pos;
    const bool matched = !at_end || piece.next != nullptr;

    // Extend the previous match forwards while it agrees more than half the
    // time.
    int64_t s = 0, best_f = 0, len_f = 0;
    for (int64_t i = 0; last_scan + i < scan && last_pos + i < osize;) {
      if (o[last_pos + i] == n[last_scan + i]) ++s;
      ++i;
      if (s * 2 - i > best_f * 2 - len_f) {
        best_f = s;
        len_f = i;
      }
    }
    // And the new match backwards.
    int64_t len_b = 0;
    if (matched) {
      int64_t best_b = 0;
      s = 0;
      for (int64_t i = 1; scan >= last_scan + i && pos >= i; ++i) {
        if (o[pos - i] == n[scan - i]) ++s;
        if (s * 2 - i > best_b * 2 - len_b) {
          best_b = s;
          len_b = i;
        }
      }
    }
    // Where the two extensions overlap, split them where they agree best.
    if (last_scan + len_f > scan - len_b) {
      const int64_t overlap = (last_scan + len_f) - (scan - len_b);
      int64_t best_s = 0, len_s = 0;
      s = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (n[last_scan + len_f - overlap + i] == o[last_pos + len_f - overlap + i]) ++s;
        if (n[scan - len_b + i] == o[pos - len_b + i]) --s;
        if (s > best_s) {
          best_s = s;
          len_s = i + 1;
        }
      }
      len_f += len_s - overlap;
      len_b -= len_s;
    }

    EmitAligned(out, o, n, static_cast<size_t>(last_pos), static_cast<size_t>(last_scan), static_cast<size_t>(len_f),
                options_.min_copy);
    const int64_t extra_begin = last_scan + len_f;
    const int64_t extra_end = scan - len_b;
    out.Insert(static_cast<uint32_t>(extra_begin), static_cast<uint32_t>(extra_end - extra_begin));

    last_scan = scan - len_b;
    last_pos = pos - len_b;
    last_offset = pos - scan;
    if (!at_end) continue;
    if (piece.next != nullptr) {
      // The bytes before the run that agree with it, then the run.
      EmitAligned(out, o, n, static_cast<size_t>(last_pos), static_cast<size_t>(last_scan),
                  static_cast<size_t>(len_b), options_.min_copy);
      out.Copy(piece.next->old_pos, piece.next->new_pos, piece.next->length);
    }
    return;
  }
}

// The runs the matcher takes as they are: those that a sequential reader of
// the old file reaches without leaving its page (the run starts in the page
// where the run before ended), and those long enough to be worth a page load
// even over budget. The others are left to the detailed matcher, which
// weighs a page load against what a match gives.
std::vector<Anchor> NearAnchors(std::vector<Anchor> anchors, const DiffOptions& options) {
  std::vector<Anchor> kept;
  uint32_t page = 0;
  for (const Anchor& a : anchors) {
    if ((a.old_pos >> kOldPageShift) != page && a.length < options.over_budget_penalty) continue;
    kept.push_back(a);
    page = (a.old_pos + a.length - 1) >> kOldPageShift;
  }
  return kept;
}

// The old bytes worth indexing: all but those of runs of at least
// `long_run` bytes, which the new file already takes over.
SuffixIndex::Ranges IndexRanges(const std::vector<Anchor>& anchors, size_t old_size, uint32_t long_run) {
  std::vector<std::pair<size_t, size_t>> taken;
  for (const Anchor& a : anchors)
    if (a.length >= long_run) taken.emplace_back(a.old_pos, size_t{a.old_pos} + a.length);
  std::sort(taken.begin(), taken.end());
  SuffixIndex::Ranges ranges;
  size_t at = 0;
  for (const auto& [from, to] : taken) {
    if (from > at) ranges.emplace_back(at, from);
    at = std::max(at, to);
  }
  if (at < old_size) ranges.emplace_back(at, old_size);
  return ranges;
}

}  // namespace

Bytes WriteDiff(ByteSpan old_file, ByteSpan new_file, const DiffOptions& options) {
  if (old_file.size >= (size_t{1} << 31) || new_file.size >= (size_t{1} << 31))
    throw std::length_error("files of 2 GiB or more cannot be diffed");
  DiffStreamWriter writer(static_cast<uint32_t>(old_file.size));
  if (old_file.size == 0) {
    writer.Insert(new_file.data, new_file.size);
    return writer.Finish();
  }

  StageProgress finding(options, "finding runs", uint64_t{old_file.size} + new_file.size);
  AnchorOptions anchor_options;
  anchor_options.min_length = options.anchor_length;
  anchor_options.threads = options.threads;
  anchor_options.release = options.release;
  anchor_options.progress = [&](uint64_t done, uint64_t) { finding.At(done); };
  const std::vector<Anchor> anchors = NearAnchors(FindAnchors(old_file, new_file, anchor_options), options);

  const SuffixIndex::Ranges ranges = IndexRanges(anchors, old_file.size, options.long_run);
  StageProgress indexing(options, "indexing", old_file.size);
  const SuffixIndex index(old_file, ranges, options.index_stride, kIndexDepth, options.threads,
                          [&](uint64_t done, uint64_t total) { indexing.At(old_file.size * done / total); });

  // Pieces in units of about kUnitBytes, matched in parallel, each into a
  // command list of its own.
  const std::vector<Piece> pieces = PiecesBetween(anchors, new_file.size);
  std::vector<std::pair<size_t, size_t>> units;  // [first, last) pieces
  for (size_t first = 0; first < pieces.size();) {
    uint64_t bytes = 0;
    size_t last = first;
    while (last < pieces.size() && (last == first || bytes < kUnitBytes)) {
      bytes += pieces[last].end - pieces[last].begin + (pieces[last].next ? 64 : 0);
      ++last;
    }
    units.emplace_back(first, last);
    first = last;
  }
  const PieceMatcher matcher(old_file, new_file, index, options);
  std::vector<OpList> lists;
  lists.reserve(units.size());
  for (const auto& unit : units) {
    const Piece& p = pieces[unit.first];
    const int64_t at = std::clamp<int64_t>(p.begin + p.offset, 0, static_cast<int64_t>(old_file.size) - 1);
    lists.emplace_back(static_cast<uint32_t>(old_file.size), static_cast<uint32_t>(at >> kOldPageShift),
                       matcher.LoadsBefore(p));
  }
  StageProgress matching(options, "matching", units.size());
  ParallelFor(
      units.size(), options.threads,
      [&](size_t u) {
        for (size_t i = units[u].first; i < units[u].second; ++i) matcher.Match(pieces[i], lists[u]);
      },
      [&](size_t done) { matching.At(done); });
  // From here on only the literal bytes of the new file are read.
  if (options.release) options.release(false, 0, new_file.size);

  // At most: every literal byte doubled as an escape, and per command its
  // opcode, a seek and a return to a literal mode, each with its number.
  // Beyond 256 MiB the stream grows as a vector does.
  uint64_t bound = 0;
  for (const OpList& list : lists)
    for (const DiffOp& op : list.ops()) bound += (op.kind == OpKind::Copy ? 0 : 2 * uint64_t{op.length}) + 32;
  writer.Reserve(static_cast<size_t>(std::min<uint64_t>(bound, uint64_t{256} << 20)));
  for (OpList& list : lists) {
    for (const DiffOp& op : list.ops()) {
      switch (op.kind) {
        case OpKind::Copy:
          writer.Copy(op.old_pos, op.length);
          break;
        case OpKind::Replace:
          writer.Replace(op.old_pos, new_file.data + op.new_pos, op.length);
          break;
        case OpKind::Insert:
          writer.Insert(new_file.data + op.new_pos, op.length);
          break;
      }
    }
    list = OpList(0, 0, 0);
  }
  return writer.Finish();
}
