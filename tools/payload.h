#pragma once
// The payload an added or updated file travels as: the whole new file or a
// diff from the old one, each raw or as a zlib stream, whichever is smallest.
#include <cstdint>
#include <functional>

#include "tools/diff_writer.h"

// Fast: zlib level 9 for every compressed candidate. Best: the candidates
// are ranked with zlib, and the best (and any within 5 % of it) deflated
// again by zopfli; slower, usually a few percent smaller.
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
// The new file is deflated only as far as its stream could still win or
// decide which candidates zopfli deflates. Deterministic in both efforts.
// Memory beyond the inputs: the diff writer's while it runs (see WriteDiff),
// then the diff and at most two compressed candidates (and zopfli's working
// set, under 1 MB per thread, in Best).
Payload MakePayload(const ByteSpan* old_file, ByteSpan new_file, const PayloadOptions& options = PayloadOptions());
