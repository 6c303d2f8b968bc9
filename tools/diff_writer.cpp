#include "tools/diff_writer.h"

#include <divsufsort.h>

#include <algorithm>
#include <stdexcept>

#include "diff/diff_decoder.h"

void AppendDiffNumber(Bytes& out, uint64_t value) {
  if (value >= 1 && value <= 252) {
    out.push_back(static_cast<uint8_t>(value - 1));
  } else if (value >= 253 && value <= 508) {
    out.push_back(252);
    out.push_back(static_cast<uint8_t>(value - 253));
  } else {
    const int length = value <= 0xFFFF ? 2 : value <= 0xFFFFFFFFull ? 4 : 8;
    out.push_back(length == 2 ? 253 : length == 4 ? 254 : 255);
    for (int shift = (length - 1) * 8; shift >= 0; shift -= 8)
      out.push_back(static_cast<uint8_t>(value >> shift));
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

void DiffStreamWriter::Copy(uint32_t old_pos, uint32_t count) {
  if (count == 0) return;
  SeekTo(old_pos);
  Command(kDiffCopy);
  AppendDiffNumber(out_, count);
  mode_ = Mode::Copy;
  cursor_ = old_pos + count;
}

void DiffStreamWriter::Replace(uint32_t old_pos, const uint8_t* bytes, size_t count) {
  if (count == 0) return;
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

// The suffix of the old file in sa[lo..hi] that shares the longest prefix
// with `target`: a binary search over the sorted suffixes. Every suffix
// between two others shares at least the shorter of their common prefixes
// with the target, so each comparison starts behind that many bytes.
size_t LongestMatch(const std::vector<saidx_t>& sa, const Bytes& old_file, const uint8_t* target,
                    size_t target_size, size_t lo, size_t hi, size_t& match_pos) {
  const uint8_t* old_data = old_file.data();
  const size_t old_size = old_file.size();
  auto common = [&](size_t at, size_t from) {
    const size_t limit = std::min(old_size - at, target_size);
    size_t k = from;
    while (k < limit && old_data[at + k] == target[k]) ++k;
    return k;
  };
  size_t lcp_lo = common(static_cast<size_t>(sa[lo]), 0);
  size_t lcp_hi = common(static_cast<size_t>(sa[hi]), 0);
  while (hi - lo >= 2) {
    const size_t mid = lo + (hi - lo) / 2;
    const size_t at = static_cast<size_t>(sa[mid]);
    const size_t k = common(at, std::min(lcp_lo, lcp_hi));
    const bool below = k < std::min(old_size - at, target_size) && old_data[at + k] < target[k];
    if (below) {
      lo = mid;
      lcp_lo = k;
    } else {
      hi = mid;
      lcp_hi = k;
    }
  }
  if (lcp_lo > lcp_hi) {
    match_pos = static_cast<size_t>(sa[lo]);
    return lcp_lo;
  }
  match_pos = static_cast<size_t>(sa[hi]);
  return lcp_hi;
}

// Writes an approximate match: new[new_pos..+length) against old[old_pos..),
// equal runs of at least min_copy bytes as copies, the rest as replaced bytes.
void EmitAligned(DiffStreamWriter& writer, const Bytes& old_file, const Bytes& new_file, size_t old_pos,
                 size_t new_pos, size_t length, uint32_t min_copy) {
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
      while (end + equal < length && old_file[old_pos + end + equal] == new_file[new_pos + end + equal])
        ++equal;
      if (equal >= min_copy) break;
      end += equal;
    }
    writer.Replace(static_cast<uint32_t>(old_pos + i), new_file.data() + new_pos + i, end - i);
    i = end;
  }
}

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
  std::vector<saidx_t> sa(old_size);
  if (divsufsort(old_file.data(), sa.data(), static_cast<saidx_t>(old_size)) != 0)
    throw std::runtime_error("suffix sorting failed");

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
      size_t match_pos = 0;
      len = static_cast<int64_t>(LongestMatch(sa, old_file, n + scan, new_size - static_cast<size_t>(scan), 0,
                                              old_size - 1, match_pos));
      pos = static_cast<int64_t>(match_pos);
      for (; scsc < scan + len; ++scsc)
        if (scsc + last_offset < osize && o[scsc + last_offset] == n[scsc]) ++old_score;
      // A new match that the current alignment does not already give, and
      // that is long enough to pay for a seek.
      if ((len == old_score && len != 0) || len > old_score + options.min_gain) break;
      if (scan + last_offset < osize && o[scan + last_offset] == n[scan]) --old_score;
    }
    if (len == old_score && scan != nsize) continue;

    // Extend the previous match forwards while it agrees more than half the time.
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
