#pragma once
// zlib streams (RFC 1950, 15-bit window) as the patcher inflates them.
#include <cstddef>
#include <functional>

#include "tools/common/byte_span.h"

// Called with the input bytes done so far and the input's length; may be
// empty.
using DeflateProgress = std::function<void(uint64_t done, uint64_t total)>;

// `data` deflated by zlib at level 9, as one zlib stream. Up to 1 MiB it is
// one deflate call; a longer input is deflated in parts of 1 MiB on up to
// `threads` threads (0: every core), each part given the 32 KiB before it as
// its dictionary, so that matches reach across the joins, and ended by a
// sync flush (an empty stored block, 4 or 5 bytes), which makes the parts
// whole bytes to join. The Adler-32 is put together from the parts'. The
// stream is the same for any number of threads. Reports progress from the
// calling thread, about once per MiB of input.
Bytes Compress(ByteSpan data, const DeflateProgress& progress = {}, unsigned threads = 0);

// As Compress, but stops as soon as the stream is known to be longer than
// `limit` bytes: then false, and `out` is left empty. The work and the
// memory spent on a stream that would lose to a shorter candidate stop
// early.
bool CompressWithin(ByteSpan data, size_t limit, Bytes& out, const DeflateProgress& progress = {},
                    unsigned threads = 0);

// `data` deflated by libdeflate at its strongest level (12: near-optimal
// parsing, its own block splitting) as one zlib stream, on one thread: some
// percent smaller than Compress, at about five times its time per thread.
// Deterministic. Holds an output buffer of about the input's size while it
// runs. Reports progress at its start and end.
Bytes CompressBest(ByteSpan data, const DeflateProgress& progress = {});

// Inflates one whole zlib stream into `out`; false for a stream that is
// corrupt, truncated or fails its Adler-32 check.
bool Inflate(ByteSpan stream, Bytes& out);
