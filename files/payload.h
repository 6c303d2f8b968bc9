#pragma once
// Turning a payload resource into "new.dat" beside its target.
#include "files/written_digest.h"
#include "manifest/text.h"

class ProgressReporter;
struct FilePatch;

// Writes the entry's payload, inflated when `comp` is set, to `newDat`.
// 0 on success, 1 on failure (temporary files removed). `digest`, when
// given, receives the CRC-32 and size of what was written to `newDat`.
// When "new.dat" is to replace the installed file (an updated entry whose
// payload is the whole file), its data is on the disk when this returns.
int ExtractPayload(const FilePatch& entry, const WideText& newDat, WrittenDigest* digest = nullptr);

// Copies data resource `id` into a new file (CREATE_NEW), creating its
// directory chain first. With `durable`, the file's data is flushed to the
// disk (FlushFileBuffers) before it is closed, and a failed flush fails.
bool WriteResourceToFile(const WideText& path, ProgressReporter* node, int id, WrittenDigest* digest = nullptr,
                         bool durable = false);

// Inflates the zlib stream in `input` into a new file `output`; `durable`
// as for WriteResourceToFile.
bool InflateFile(const WideText& input, const WideText& output, ProgressReporter* node,
                 WrittenDigest* digest = nullptr, bool durable = false);
