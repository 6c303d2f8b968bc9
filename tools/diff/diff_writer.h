#pragma once
// The authoring side of the diff stream: an emitter that writes commands and
// literal bytes in the patcher's diff format, and the matcher that finds how a
// new file is made of an old one.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "tools/common/byte_span.h"

// The patcher reads the old file through one resident page of 2^20 bytes and
// loads another page whenever the decoder reads a byte outside it.
constexpr uint32_t kOldPageShift = 20;

// Appends `value` in its shortest number form: 1..252 in one byte, 253..508
// as 252 and one byte, 0 and 509..65535 as 253 and two bytes, up to 2^32-1 as
// 254 and four bytes, larger values as 255 and eight bytes (big-endian).
void AppendDiffNumber(Bytes& out, uint64_t value);

// Writes a diff stream step by step. It keeps track of the decoder's mode and
// old cursor, so callers only say which bytes come from where: the emitter
// adds the mode commands and seeks that are needed, and no more. A literal
// 0xA7 is doubled exactly when the decoder would otherwise take it for the
// start of a command: when the next byte of the stream lies in 0xA2..0xA7, or
// the stream ends right after it. Otherwise the decoder reads the pair 0xA7 X
// as two literals, which is what they are.
class DiffStreamWriter {
 public:
  explicit DiffStreamWriter(uint32_t old_size) : old_size_(old_size) {}

  // The next `count` new bytes are old bytes from `old_pos` on.
  void Copy(uint32_t old_pos, uint32_t count);
  // The next `count` new bytes are `bytes`, standing in for as many old bytes
  // from `old_pos` on (which must lie inside the old file).
  void Replace(uint32_t old_pos, const uint8_t* bytes, size_t count);
  // The next `count` new bytes are `bytes`, taken from no old bytes.
  void Insert(const uint8_t* bytes, size_t count);
  // The finished stream; the emitter is spent afterwards.
  Bytes Finish();
  // Room for a stream of up to `bytes` bytes, so that it never moves while
  // it grows; the room it does not fill costs address space only.
  void Reserve(size_t bytes) { out_.reserve(bytes); }

  // The old-file pages the patcher's reader loads for the stream so far
  // (page 0 at open included), and the page it holds now.
  uint64_t page_loads() const { return page_loads_; }
  uint32_t resident_page() const { return page_; }

 private:
  enum class Mode { None, Seek, Copy, Insert, Replace };
  void Command(uint8_t opcode);
  void EnterMode(Mode mode, uint8_t opcode);
  void SeekTo(uint32_t old_pos);
  void Literal(uint8_t byte);
  void ReadOld(uint32_t from, uint64_t count);

  Bytes out_;
  uint32_t old_size_;
  uint32_t cursor_ = 0;
  uint32_t page_ = 0;
  uint64_t page_loads_ = 1;
  Mode mode_ = Mode::None;
  bool bare_escape_ = false;  // the last byte written is a literal 0xA7 written once
};

// Tuning of the matcher, and its progress report.
struct DiffOptions {
  // Inside an approximate match, an equal run shorter than this stays as
  // replaced literals rather than a copy and a return to ReplaceMode. On
  // real executables the deflated diff is smallest at about 3 (and the raw
  // diff, which the patcher writes to disk, too).
  uint32_t min_copy = 3;
  // A new match is taken only when it gives this many more matching bytes
  // than the current alignment: what a seek and a copy cost.
  uint32_t min_gain = 8;
  // Where the current alignment matches this many bytes on, it is taken as
  // the match without looking into the index.
  uint32_t aligned_run = 8;
  // Every index_stride-th old offset is indexed (about 5/index_stride bytes
  // of memory per indexed old byte); matches starting elsewhere are found
  // from inside.
  uint32_t index_stride = 4;
  // A match in another old page than the cursor's must give this many more
  // bytes, while the page loads stay within page_budget loads per old page
  // (spread over the new file in proportion)...
  uint32_t page_penalty = 64;
  // ... and this many once they exceed it.
  uint32_t over_budget_penalty = 16384;
  double page_budget = 1.5;
  // Runs of at least this many equal bytes are found first by block hashes
  // (see FindAnchors) and taken as they are; the old bytes of runs of at
  // least long_run bytes are left out of the index.
  uint32_t anchor_length = 4096;
  uint32_t long_run = 1 << 16;
  // Threads (0: every core). The stream is the same for any number.
  unsigned threads = 0;
  // Called with a stage name ("indexing", "matching") and its progress, a
  // few hundred times at most, from the calling thread; may be empty.
  std::function<void(const char* stage, uint64_t done, uint64_t total)> progress;
  // Called when the matcher is done with a range of one of the files for
  // now (old: true for the old file), so that the pages of a mapped file can
  // be given back; may be empty.
  std::function<void(bool old, size_t from, size_t to)> release;
};

// A diff stream that rebuilds `new_file` from `old_file`. Both must be smaller
// than 2 GiB. Matching, in three steps:
// - Long runs of equal bytes (moved or not) are found first by block hashes
//   (FindAnchors) and become copies as they are.
// - A sampled suffix index of the old bytes those runs do not take over
//   (long runs are left out) finds a long exact match at each new position
//   between them, preferring the old cursor's page; matches are extended
//   forwards and backwards while they agree more often than not, so that
//   changed bytes between equal ones become ReplaceMode runs, new bytes
//   between matches InsertMode runs and moved blocks seeks. A match in
//   another page than the cursor's must be worth a page load, and the more
//   so once the loads exceed their budget, so that the patcher's reader
//   rarely leaves the page it holds.
// - The stretches between the runs are matched in parts of fixed places, in
//   parallel; their commands are then written out in order as one stream.
// Memory: the block table (about 12 bytes per old block, see BlockSize), the
// index (about 5/index_stride bytes per indexed old byte), the commands (16
// bytes each) and the stream. Deterministic: equal inputs give equal
// streams, whatever the number of threads.
Bytes WriteDiff(ByteSpan old_file, ByteSpan new_file, const DiffOptions& options = DiffOptions());
