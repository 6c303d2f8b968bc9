#include "engine/version.h"

#include <cstdio>

int32_t ParseVersion(const std::string& text) {
  int major = 0;
  int minor = 0;
  std::sscanf(text.c_str(), "%d.%d", &major, &minor);
  return static_cast<int32_t>((static_cast<uint32_t>(major) << 16) | static_cast<uint32_t>(minor));
}
