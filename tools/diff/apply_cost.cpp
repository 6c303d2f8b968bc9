#include "tools/diff/apply_cost.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "tools/diff/diff_writer.h"

namespace {

constexpr uint32_t kPageSize = 1u << kOldPageShift;

// The old file in memory, read as the patcher's PagedReader reads its file:
// the same interface, and a count of the pages it would load.
struct PagedModelReader {
  const uint8_t* data;
  uint32_t size;
  uint32_t position = 0;
  int64_t page = -1;
  ApplyCost& cost;

  PagedModelReader(ByteSpan bytes, ApplyCost& counts)
      : data(bytes.data), size(static_cast<uint32_t>(bytes.size)), cost(counts) {
    Load(0);
  }
  void Load(int64_t index) {
    if (index == page) return;
    const uint64_t start = static_cast<uint64_t>(index) << kOldPageShift;
    const uint64_t end = start >= size ? start : std::min<uint64_t>(start + kPageSize, size);
    ++cost.page_loads;
    cost.page_bytes += end - start;
    page = index;
  }
  int GetByte() {
    if (position >= size) return -1;
    Load(position >> kOldPageShift);
    return data[position++];
  }
  const uint8_t* Peek(uint32_t& available) {
    Load(position >> kOldPageShift);
    const uint32_t in_page = kPageSize - (position & (kPageSize - 1));
    available = size - position < in_page ? size - position : in_page;
    return data + position;
  }
  void Advance(uint32_t count) { position += count; }
};

// The diff stream, with its commands counted as the decoder reads them: the
// decoder takes an escape, its opcode and a number's bytes one at a time,
// and runs of literals in blocks only between commands.
struct CommandCountingReader {
  MemoryReader inner;
  ApplyCost& cost;
  uint32_t& position;
  uint32_t& size;
  enum class State { Text, Opcode, NumberFirst, NumberRest } state = State::Text;
  int number_left = 0;

  CommandCountingReader(ByteSpan diff, ApplyCost& counts)
      : inner(diff.data, static_cast<uint32_t>(diff.size)), cost(counts), position(inner.position), size(inner.size) {}
  CommandCountingReader(const CommandCountingReader&) = delete;
  CommandCountingReader& operator=(const CommandCountingReader&) = delete;

  int GetByte() {
    const int byte = inner.GetByte();
    if (byte < 0) return byte;
    switch (state) {
      case State::Text:
        if (byte == kDiffEscape) state = State::Opcode;
        break;
      case State::Opcode:
        state = State::Text;
        if (byte == kDiffCopy) ++cost.copies;
        if (byte == kDiffSeekBack || byte == kDiffSeekForward) ++cost.seeks;
        if (byte == kDiffCopy || byte == kDiffSeekBack || byte == kDiffSeekForward) state = State::NumberFirst;
        break;
      case State::NumberFirst:
        number_left = byte < 252 ? 0 : byte == 252 ? 1 : byte == 253 ? 2 : byte == 254 ? 4 : 8;
        state = number_left == 0 ? State::Text : State::NumberRest;
        break;
      case State::NumberRest:
        if (--number_left == 0) state = State::Text;
        break;
    }
    return byte;
  }
  const uint8_t* Peek(uint32_t& available) { return inner.Peek(available); }
  void Advance(uint32_t count) { inner.Advance(count); }
};

// Output bytes to the sink, through a buffer for those that come one at a
// time; those that come straight from the old file are counted apart. Like
// the patcher's writer it takes up to 2 GiB.
class SinkWriter {
 public:
  SinkWriter(const RebuiltSink& sink, ByteSpan old_file, ApplyCost& cost)
      : sink_(sink), old_begin_(old_file.data), old_end_(old_file.data + old_file.size), cost_(cost) {
    buffer_.reserve(kBuffer);
  }
  bool PutByte(uint8_t byte) {
    if (!Count(1)) return false;
    buffer_.push_back(byte);
    return buffer_.size() < kBuffer || Flush();
  }
  bool PutBytes(const uint8_t* bytes, uint32_t count) {
    if (bytes >= old_begin_ && bytes < old_end_) cost_.copied_bytes += count;
    if (!Count(count)) return false;
    if (buffer_.size() + count <= kBuffer) {
      buffer_.insert(buffer_.end(), bytes, bytes + count);
      return buffer_.size() < kBuffer || Flush();
    }
    return Flush() && sink_(bytes, count);
  }
  bool Flush() {
    const bool ok = buffer_.empty() || sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }
  uint64_t written() const { return written_; }

 private:
  static constexpr size_t kBuffer = size_t{1} << 16;
  static constexpr uint64_t kLimit = uint64_t{1} << 31;
  bool Count(uint32_t count) {
    if (written_ + count > kLimit) return false;
    written_ += count;
    return true;
  }
  const RebuiltSink& sink_;
  const uint8_t* old_begin_;
  const uint8_t* old_end_;
  ApplyCost& cost_;
  Bytes buffer_;
  uint64_t written_ = 0;
};

std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

}  // namespace

bool MeasureApply(ByteSpan old_file, ByteSpan diff, const RebuiltSink& sink, ApplyCost& cost) {
  if (old_file.size >= (size_t{1} << 31) || diff.size >= (size_t{1} << 31))
    throw std::length_error("files of 2 GiB or more are outside the decoder's range");
  cost = ApplyCost();
  cost.old_pages = (old_file.size + kPageSize - 1) >> kOldPageShift;
  cost.diff_size = diff.size;
  PagedModelReader old_reader(old_file, cost);
  CommandCountingReader diff_reader(diff, cost);
  SinkWriter writer(sink, old_file, cost);
  const bool decoded = DecodeDiff(writer, old_reader, diff_reader);
  const bool flushed = writer.Flush();
  cost.literal_bytes = writer.written() - cost.copied_bytes;
  return decoded && flushed;
}

bool MeasureApply(ByteSpan old_file, ByteSpan diff, Bytes& rebuilt, ApplyCost& cost) {
  rebuilt.clear();
  return MeasureApply(
      old_file, diff,
      [&rebuilt](const uint8_t* bytes, size_t count) {
        rebuilt.insert(rebuilt.end(), bytes, bytes + count);
        return true;
      },
      cost);
}

std::string ApplyCostLine(const ApplyCost& cost) {
  char read[32];
  std::snprintf(read, sizeof read, "%.1f MB", static_cast<double>(cost.page_bytes) / 1e6);
  return Grouped(cost.page_loads) + " page loads for " + Grouped(cost.old_pages) + " pages (" + read + " read), " +
         Grouped(cost.copies) + " copies, " + Grouped(cost.seeks) + " seeks, " + Grouped(cost.literal_bytes) +
         " literal bytes, diff stream " + Grouped(cost.diff_size) + " bytes before zlib";
}
