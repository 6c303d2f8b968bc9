#pragma once
// zlib streams (RFC 1950, 15-bit window) as the patcher inflates them.
#include "tools/diff_writer.h"

// `data` deflated at level 9. Deterministic.
Bytes Compress(const Bytes& data);

// Inflates one whole zlib stream into `out`; false for a stream that is
// corrupt, truncated or fails its Adler-32 check.
bool Inflate(const Bytes& stream, Bytes& out);
