#pragma once
// The payload an added or updated file travels as: the whole new file or a
// diff from the old one, each raw or as a zlib stream, whichever is smallest.
#include <cstdint>
#include <functional>

#include "tools/diff/diff_writer.h"

// Fast: zlib level 9 for every compressed candidate. Best: libdeflate's
// strongest level (see CompressBest) for the diff, and for the whole file
// when zlib puts it within 5 % of the best candidate; slower, usually a few
// percent smaller.
enum class Effort { Fast, Best };

struct PayloadOptions {
  Effort effort = Effort::Best;
  // Called with a stage ("finding runs", "indexing", "matching",
  // "deflating", "deflating best") and its progress, a few hundred times at
  // most per stage, from the calling thread; may be empty.
  std::function<void(const char* stage, uint64_t done, uint64_t total)> progress;
  // The diff writer's tuning (its progress callback is replaced by the one
  // above, its threads by the ones below).
  DiffOptions diff;
  // Threads for matching and deflating (0: every core). The payload is the
  // same for any number.
  unsigned threads = 0;
};

struct Payload {
  Bytes bytes;             // the resource's bytes, never empty
  bool comp = false;       // bytes are a zlib stream
  bool diff = false;       // bytes (inflated when comp) are a diff stream
  uint64_t diff_size = 0;  // the diff stream's length when diff, else 0
};

// The smallest payload that rebuilds `new_file`, from `old_file` when given
// (null for an added file). Candidates, in this order, the first of equal
// sizes winning: the raw new file, the compressed new file, the compressed
// diff, the raw diff. An empty candidate is never taken raw (the patcher
// refuses an empty resource), so an empty file or diff travels compressed.
// The diff is deflated first; the whole file then only as far as its stream
// could still win (or, in Best, be within 5 % of the best). Deterministic in
// both efforts, whatever the number of threads. Memory beyond the inputs:
// the diff writer's while it runs (see WriteDiff), then the diff and at most
// two compressed candidates (and in Best the strongest deflate's output
// buffer, about its input's size).
Payload MakePayload(const ByteSpan* old_file, ByteSpan new_file, const PayloadOptions& options = PayloadOptions());
