#pragma once
// What a writer produced: the CRC-32 and length of every byte it handed to
// the file, kept while writing so that a rebuilt file can be verified
// without reading it again.
#include <cstdint>

struct WrittenDigest {
  uint32_t crc32 = 0;  // zlib crc32 of the bytes written, starting from 0
  uint64_t size = 0;
};
