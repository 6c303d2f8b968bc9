#pragma once
#include "files/written_digest.h"
#include "manifest/text.h"

class ProgressReporter;

// Rebuilds `outputPath` (created new) from `oldPath` and the diff stream in
// `diffPath`. True when the whole stream was interpreted and every byte
// written and flushed to the disk. `digest` receives the CRC-32 and size of
// the output written.
bool ApplyDiff(const WideText& outputPath, const WideText& oldPath, const WideText& diffPath,
               ProgressReporter* reporter, WrittenDigest* digest = nullptr);
