#pragma once
// The diff stream interpreter. A diff stream has no header or trailer: it is
// literal bytes and commands (the escape byte 0xA7 and an opcode, the seek and
// copy commands followed by one number) that rebuild a new file from an old
// one in a single pass, moving a cursor over the old file.
//
// The decoder works on any reader and writer types with this interface:
//   Reader:  int GetByte();           // 0..255, or -1 at the end (no advance)
//            uint32_t position, size;  // old file only: the cursor and length
//   Writer:  bool PutByte(uint8_t);    // false when the byte cannot be written
// The per-byte calls are templates so that they inline: the same code runs
// over memory (MemoryReader/MemoryWriter) and over files (PagedReader,
// OutputWriter). A reader may raise an exception (the paged reader raises
// "Cannot load page"); it passes through DecodeDiff unchanged.
//
// Types may also offer block access, which the decoder then uses for copies
// and runs of literals, with the same result as byte by byte:
//   Reader:  const uint8_t* Peek(uint32_t& available);  // position < size:
//            // the bytes from `position` on, `available` >= 1 of them
//            void Advance(uint32_t count);              // position += count
//   Writer:  bool PutBytes(const uint8_t*, uint32_t);   // as many PutByte
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

constexpr int kDiffEscape = 0xA7;
constexpr int kDiffSeekBack = 0xA2;
constexpr int kDiffCopy = 0xA3;
constexpr int kDiffSeekForward = 0xA4;
constexpr int kDiffInsertMode = 0xA5;
constexpr int kDiffReplaceMode = 0xA6;

// How literal bytes are handled: InsertMode and ReplaceMode write them (the
// latter also steps over one old byte per literal); after a seek or a copy,
// and before the first mode command, literals are read and discarded.
enum class DiffMode { None, SeekBack, Copy, SeekForward, InsertMode, ReplaceMode };

// Reads one number of the variable-length form into `value`:
//   0..251 -> b + 1;  252 c -> 253 + c;  253/254/255 -> the next 2/4/8 bytes
//   big-endian;  end of stream before the first byte -> 0.
// False when the stream ends inside the further bytes of a number (a cut-off
// stream), `value` then undefined.
template <class DiffReader>
inline bool ReadDiffNumber(DiffReader& diff, int64_t& value) {
  const int first = diff.GetByte();
  if (first < 0) {
    value = 0;
    return true;
  }
  if (first < 252) {
    value = first + 1;
    return true;
  }
  if (first == 252) {
    const int c = diff.GetByte();
    if (c < 0) return false;
    value = 253 + c;
    return true;
  }
  const int length = first == 253 ? 2 : first == 254 ? 4 : 8;
  uint64_t accumulated = 0;
  for (int i = 0; i < length; ++i) {
    const int byte = diff.GetByte();
    if (byte < 0) return false;
    accumulated = (accumulated << 8) | static_cast<uint64_t>(byte);
  }
  value = static_cast<int64_t>(accumulated);
  return true;
}

namespace diff_detail {

template <class T, class = void>
struct HasBlockRead : std::false_type {};
template <class T>
struct HasBlockRead<T, std::void_t<decltype(std::declval<T&>().Peek(std::declval<uint32_t&>())),
                                   decltype(std::declval<T&>().Advance(uint32_t{}))>> : std::true_type {};
template <class T, class = void>
struct HasBlockWrite : std::false_type {};
template <class T>
struct HasBlockWrite<T, std::void_t<decltype(std::declval<T&>().PutBytes(std::declval<const uint8_t*>(),
                                                                          uint32_t{}))>> : std::true_type {};

// Moves the old cursor forward over up to `count` bytes as reading them one
// by one would: it stops at the end of the old file.
template <class OldReader>
inline void SkipOld(OldReader& old, uint32_t count) {
  if constexpr (HasBlockRead<OldReader>::value) {
    while (count != 0 && old.position < old.size) {
      uint32_t available = 0;
      old.Peek(available);
      const uint32_t step = available < count ? available : count;
      old.Advance(step);
      count -= step;
    }
  } else {
    for (; count != 0 && old.position < old.size; --count) old.GetByte();
  }
}

// Copies `count` old bytes from the cursor on. Refuses, before writing
// anything, a copy that would run past the end of the old file.
template <class Writer, class OldReader>
inline bool CopyOld(Writer& writer, OldReader& old, int64_t count) {
  if (count <= 0) return true;
  const uint32_t available = old.position <= old.size ? old.size - old.position : 0;
  if (static_cast<uint64_t>(count) > available) return false;
  if constexpr (HasBlockRead<OldReader>::value && HasBlockWrite<Writer>::value) {
    for (uint32_t left = static_cast<uint32_t>(count); left != 0;) {
      uint32_t span = 0;
      const uint8_t* bytes = old.Peek(span);
      const uint32_t step = span < left ? span : left;
      if (!writer.PutBytes(bytes, step)) return false;
      old.Advance(step);
      left -= step;
    }
    return true;
  }
  for (uint32_t left = static_cast<uint32_t>(count); left != 0; --left) {
    if (!writer.PutByte(static_cast<uint8_t>(old.GetByte()))) return false;
  }
  return true;
}

// Moves the cursor by the low 32 bits of `distance` (modulo 2^32); a cursor
// beyond the old file's end, including one wrapped below 0, fails.
template <class OldReader>
inline bool Seek(OldReader& old, int64_t distance, bool forward) {
  const uint32_t step = static_cast<uint32_t>(static_cast<uint64_t>(distance));
  const uint32_t cursor = forward ? old.position + step : old.position - step;
  if (cursor > old.size) return false;
  old.position = cursor;
  return true;
}

// One literal byte under the current mode.
template <class Writer, class OldReader>
inline bool Literal(Writer& writer, OldReader& old, DiffMode mode, uint8_t byte) {
  if (mode == DiffMode::InsertMode) return writer.PutByte(byte);
  if (mode == DiffMode::ReplaceMode) {
    if (!writer.PutByte(byte)) return false;
    old.GetByte();  // the replaced old byte; at the end the cursor stays
  }
  return true;
}

// The number of bytes before the first escape byte in `bytes[0, span)`,
// looked for eight bytes at a time (a word holds an escape byte when the word
// XOR 0xA7A7... has a zero byte). The C library's memchr is not always the
// fast one on Windows.
inline uint32_t LiteralRunLength(const uint8_t* bytes, uint32_t span) {
  constexpr uint64_t kEscapes = 0xA7A7A7A7A7A7A7A7ull;
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  uint32_t length = 0;
  for (; span - length >= 8; length += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + length, 8);
    const uint64_t x = word ^ kEscapes;
    if ((x - kOnes) & ~x & kHighs) break;
  }
  while (length < span && bytes[length] != kDiffEscape) ++length;
  return length;
}

// Handles the literals up to the next escape byte as one block, when the
// types allow it. False when a write fails; `taken` is 0 when the next byte
// is an escape byte, the stream has ended or the types offer no blocks.
template <class Writer, class OldReader, class DiffReader>
inline bool LiteralRun(Writer& writer, OldReader& old, DiffReader& diff, DiffMode mode, uint32_t& taken) {
  taken = 0;
  if constexpr (HasBlockRead<DiffReader>::value && HasBlockWrite<Writer>::value) {
    if (diff.position >= diff.size) return true;
    uint32_t span = 0;
    const uint8_t* bytes = diff.Peek(span);
    const uint32_t run = LiteralRunLength(bytes, span);
    if (run == 0) return true;
    if (mode == DiffMode::InsertMode || mode == DiffMode::ReplaceMode) {
      if (!writer.PutBytes(bytes, run)) return false;
      if (mode == DiffMode::ReplaceMode) SkipOld(old, run);
    }
    diff.Advance(run);
    taken = run;
  }
  return true;
}

}  // namespace diff_detail

// Interprets the whole diff stream from `diff`, reading the old file through
// `old` (whose `position` is the cursor, starting where the caller left it,
// normally 0) and appending the new file's bytes to `writer`.
// True when the stream ended after a complete command or literal. False when
// a seek leaves 0..size of the old file, a copy runs past its end, the stream
// ends inside a number or right after an escape byte, or a write fails.
// Only bytes the stream describes are written; on failure the output holds
// the bytes of the commands before the failing one.
template <class Writer, class OldReader, class DiffReader>
inline bool DecodeDiff(Writer& writer, OldReader& old, DiffReader& diff) {
  DiffMode mode = DiffMode::None;
  for (;;) {
    uint32_t taken = 0;
    if (!diff_detail::LiteralRun(writer, old, diff, mode, taken)) return false;
    if (taken != 0) continue;
    const int c = diff.GetByte();
    if (c < 0) return true;
    if (c != kDiffEscape) {
      if (!diff_detail::Literal(writer, old, mode, static_cast<uint8_t>(c))) return false;
      continue;
    }
    const int opcode = diff.GetByte();
    if (opcode < 0) return false;
    int64_t n = 0;
    switch (opcode) {
      case kDiffSeekBack:
        mode = DiffMode::SeekBack;
        if (!ReadDiffNumber(diff, n) || !diff_detail::Seek(old, n, false)) return false;
        break;
      case kDiffCopy:
        mode = DiffMode::Copy;
        if (!ReadDiffNumber(diff, n) || !diff_detail::CopyOld(writer, old, n)) return false;
        break;
      case kDiffSeekForward:
        mode = DiffMode::SeekForward;
        if (!ReadDiffNumber(diff, n) || !diff_detail::Seek(old, n, true)) return false;
        break;
      case kDiffInsertMode:
        mode = DiffMode::InsertMode;
        break;
      case kDiffReplaceMode:
        mode = DiffMode::ReplaceMode;
        break;
      case kDiffEscape:
        if (!diff_detail::Literal(writer, old, mode, kDiffEscape)) return false;
        break;
      default:  // an escape pair: 0xA7 stands for itself, followed by the opcode byte
        if (!diff_detail::Literal(writer, old, mode, kDiffEscape) ||
            !diff_detail::Literal(writer, old, mode, static_cast<uint8_t>(opcode)))
          return false;
        break;
    }
  }
}
