// The checksum text of the manifests: eight lower-case hex digits.
#include <cstdio>

#include "files/file_crc.h"

NarrowText CrcText(unsigned long crc) {
  char text[1024];
  std::snprintf(text, sizeof text, "%08lx", crc & 0xFFFFFFFFul);
  return text;
}
