#pragma once
// The authoring side of the diff stream: an emitter that writes commands and
// literal bytes in the patcher's diff format, and the matcher that finds how a
// new file is made of an old one.
#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

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

 private:
  enum class Mode { None, Seek, Copy, Insert, Replace };
  void Command(uint8_t opcode);
  void EnterMode(Mode mode, uint8_t opcode);
  void SeekTo(uint32_t old_pos);
  void Literal(uint8_t byte);

  Bytes out_;
  uint32_t old_size_;
  uint32_t cursor_ = 0;
  Mode mode_ = Mode::None;
  bool bare_escape_ = false;  // the last byte written is a literal 0xA7 written once
};

// Tuning of the matcher.
struct DiffOptions {
  // Inside an approximate match, an equal run shorter than this stays as
  // replaced literals rather than a copy and a return to ReplaceMode. On
  // real executables the deflated diff is smallest at about 3 (and the raw
  // diff, which the patcher writes to disk, too).
  uint32_t min_copy = 3;
  // A new match is taken only when it gives this many more matching bytes
  // than the current alignment: what a seek and a copy cost.
  uint32_t min_gain = 8;
};

// A diff stream that rebuilds `new_file` from `old_file`. Both must be smaller
// than 2 GiB. Matching: a suffix array of the old file finds the longest exact
// match at each new position; matches are extended forwards and backwards
// while they agree more often than not, so that changed bytes between equal
// ones become ReplaceMode runs, new bytes between matches InsertMode runs and
// moved blocks seeks. Deterministic: equal inputs give equal streams.
Bytes WriteDiff(const Bytes& old_file, const Bytes& new_file, const DiffOptions& options = DiffOptions());
