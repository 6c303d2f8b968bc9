#include "tools/diff_writer.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "diff/diff_decoder.h"
#include "tools/suffix_index.h"

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

// Writes an approximate match: new[new_pos..+length) against old[old_pos..),
// equal runs of at least min_copy bytes as copies, the rest as replaced bytes.
void EmitAligned(DiffStreamWriter& writer, const Bytes& old_file, const Bytes& new_file, size_t old_pos, size_t new_pos,
                 size_t length, uint32_t min_copy) {
  size_t i = 0;
  while (i < length) {
    size_t run = 0;
    while (i + run < length && old_file[old_pos + i + run] == new_file[new_pos + i + run]) ++run;
    if (run >= min_copy || (run > 0 && i + run == length && run >= 3)) {
      writer.Copy(static_cast<uint32_t>(old_pos + i), static_cast<uint32_t>(run));
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
    writer.Replace(static_cast<uint32_t>(old_pos + i), new_file.data() + new_pos + i, end - i);
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
  uint32_t At(int64_t scan, uint64_t loads) const {
    const double share = 1.0 + budget_ * static_cast<double>(scan) / static_cast<double>(new_size_);
    return static_cast<double>(loads) <= share ? options_.page_penalty : options_.over_budget_penalty;
  }

 private:
  const DiffOptions& options_;
  size_t new_size_;
  double budget_;
};

// Reports one stage's progress through the options' callback, at most about
// 200 times per stage.
class StageProgress {
 public:
  StageProgress(const DiffOptions& options, const char* stage, uint64_t total)
      : options_(options), stage_(stage), total_(total), step_(std::max<uint64_t>(total / 200, 1)) {}
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
// kMaxMatchLength; 0 when old_pos is outside the old file.
int64_t AlignedRun(const Bytes& old_file, const Bytes& new_file, int64_t old_pos, int64_t new_pos) {
  if (old_pos < 0 || old_pos >= static_cast<int64_t>(old_file.size())) return 0;
  const int64_t limit = std::min<int64_t>({static_cast<int64_t>(old_file.size()) - old_pos,
                                           static_cast<int64_t>(new_file.size()) - new_pos, kMaxMatchLength});
  int64_t k = 0;
  while (k < limit && old_file[old_pos + k] == new_file[new_pos + k]) ++k;
  return k;
}

constexpr uint32_t kIndexDepth = 64;

}  // namespace

Bytes WriteDiff(const Bytes& old_file, const Bytes& new_file, const DiffOptions& options) {
  if (old_file.size() >= (size_t{1} << 31) || new_file.size() >= (size_t{1} << 31))
    throw std::length_error("files of 2 GiB or more cannot be diffed");
  DiffStreamWriter writer(static_cast<uint32_t>(old_file.size()));
  const size_t old_size = old_file.size();
  const size_t new_size = new_file.size();
  if (old_size == 0) {
    writer.Insert(new_file.data(), new_size);
    return writer.Finish();
  }
  StageProgress indexing(options, "indexing", old_size);
  const SuffixIndex index(old_file.data(), old_size, options.index_stride, kIndexDepth,
                          [&](uint64_t done, uint64_t total) { indexing.At(old_size * done / total); });
  StageProgress matching(options, "matching", new_size);
  const PagePenalty penalty(options, old_size, new_size);

  const uint8_t* o = old_file.data();
  const uint8_t* n = new_file.data();
  // Positions are signed so that the offset between old and new may be
  // negative; every value fits, the files being below 2 GiB.
  int64_t scan = 0, len = 0, pos = 0;
  int64_t last_scan = 0, last_pos = 0, last_offset = 0;
  const int64_t osize = static_cast<int64_t>(old_size);
  const int64_t nsize = static_cast<int64_t>(new_size);
  while (scan < nsize) {
    int64_t old_score = 0;
    int64_t scsc = scan += len;
    for (; scan < nsize; ++scan) {
      matching.At(static_cast<uint64_t>(scan));
      // The old offset the current alignment gives here: where the cursor
      // is, or goes without a seek.
      const uint32_t prefer = static_cast<uint32_t>(std::clamp<int64_t>(scan + last_offset, 0, osize - 1));
      const uint32_t far = penalty.At(scan, writer.page_loads());
      // Where the current alignment goes on matching, it is the match: the
      // index may not hold its offset (sampled), and it costs no seek.
      const int64_t aligned_run = AlignedRun(old_file, new_file, scan + last_offset, scan);
      if (aligned_run >= options.aligned_run) {
        len = aligned_run;
        pos = scan + last_offset;
      } else {
        const SuffixIndex::Match match =
            index.Find(n + scan, new_size - static_cast<size_t>(scan), prefer, far, kOldPageShift, kMaxMatchLength);
        len = match.length;
        pos = match.pos;
      }
      for (; scsc < scan + len; ++scsc)
        if (scsc + last_offset < osize && o[scsc + last_offset] == n[scsc]) ++old_score;
      // A new match that the current alignment does not already give, and
      // that is long enough to pay for a seek, and a page load when it lies
      // in another page.
      const int64_t cost = options.min_gain + ((pos >> kOldPageShift) != (prefer >> kOldPageShift) ? far : 0);
      if ((len == old_score && len != 0) || len > old_score + cost) break;
      if (scan + last_offset < osize && o[scan + last_offset] == n[scan]) --old_score;
    }
    if (len == old_score && scan != nsize) continue;

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
    if (scan < nsize) {
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

    EmitAligned(writer, old_file, new_file, static_cast<size_t>(last_pos), static_cast<size_t>(last_scan),
                static_cast<size_t>(len_f), options.min_copy);
    const int64_t extra_begin = last_scan + len_f;
    const int64_t extra_end = scan - len_b;
    writer.Insert(n + extra_begin, static_cast<size_t>(extra_end - extra_begin));

    last_scan = scan - len_b;
    last_pos = pos - len_b;
    last_offset = pos - scan;
  }
  return writer.Finish();
}
