#pragma once
// What rebuilding a file from a diff costs the patcher: the patcher's own
// decoder (DecodeDiff) runs over the old file and the diff in memory, reading
// the old file through a model of its paged reader (one resident page of
// 2^kOldPageShift bytes, page 0 loaded at open, another page loaded whenever
// a byte outside the resident one is read), and counts what it does.
#include <cstdint>
#include <functional>
#include <string>

#include "tools/common/byte_span.h"

struct ApplyCost {
  uint64_t old_pages = 0;      // pages of the old file (an empty file has none)
  uint64_t page_loads = 0;     // old-file page loads, page 0 at open included
  uint64_t page_bytes = 0;     // bytes those loads read
  uint64_t copies = 0;         // Copy commands
  uint64_t copied_bytes = 0;   // new bytes taken from the old file
  uint64_t seeks = 0;          // SeekBack and SeekForward commands
  uint64_t literal_bytes = 0;  // new bytes carried by the stream (inserted or replaced)
  uint64_t diff_size = 0;      // length of the diff stream
};

// Takes the rebuilt file's bytes in order, a block at a time (the block is
// valid during the call only); false stops the decoder as a failed write
// does.
using RebuiltSink = std::function<bool(const uint8_t* bytes, size_t count)>;

// Decodes `diff` against `old_file`, hands the rebuilt bytes to `sink` and
// fills `cost`. False when the decoder fails (the stream is malformed for
// this old file, or the output passes 2 GiB) or the sink refuses a block;
// the figures then cover the commands before the failure. Files of 2 GiB or
// more are outside the decoder's range and are refused with
// std::length_error.
bool MeasureApply(ByteSpan old_file, ByteSpan diff, const RebuiltSink& sink, ApplyCost& cost);
// The same, the rebuilt file into `rebuilt`.
bool MeasureApply(ByteSpan old_file, ByteSpan diff, Bytes& rebuilt, ApplyCost& cost);

// One line for a summary, e.g. "3 page loads for 5 pages (4.7 MB read),
// 8,190 copies, 12 seeks, 41,016 literal bytes, diff 1,226,895 bytes".
std::string ApplyCostLine(const ApplyCost& cost);
