#pragma once
#include "manifest/text.h"

class ProgressReporter;

// CRC-32 of the whole file as eight lower-case hex digits ("%08lx"). False
// (text untouched) when the file cannot be opened for shared reading, is
// empty, or a read fails. Reports bytes of earlier chunks to `node`.
bool FileCrcText(const WideText& path, ProgressReporter* node, NarrowText& text);

// The checksum text of a CRC value.
NarrowText CrcText(unsigned long crc);
