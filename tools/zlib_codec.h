#pragma once
// zlib streams (RFC 1950, 15-bit window) as the patcher inflates them.
#include <functional>

#include "tools/diff_writer.h"

// Called with the input bytes done so far and the input's length; may be
// empty.
using DeflateProgress = std::function<void(uint64_t done, uint64_t total)>;

// `data` deflated by zlib at level 9. Deterministic. Reports progress about
// once per MiB of input.
Bytes Compress(const Bytes& data, const DeflateProgress& progress = {});

// `data` deflated by zopfli's optimal parser in deflate blocks of 32 KiB,
// each parsed on its own (its window reaching into the bytes before), on up
// to four threads; the stream is the same for any number of them. Usually
// some percent smaller than Compress, and three to four times slower.
// Reports progress from the calling thread, at most about 200 times.
Bytes CompressBest(const Bytes& data, const DeflateProgress& progress = {});

// Inflates one whole zlib stream into `out`; false for a stream that is
// corrupt, truncated or fails its Adler-32 check.
bool Inflate(const Bytes& stream, Bytes& out);
