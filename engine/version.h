#pragma once
#include <cstdint>
#include <string>

// Reads a version text "major.minor" with "%d.%d" rules (missing parts are 0)
// and returns major << 16 | minor. The minor number is OR-ed in unmasked, as
// installed versions have always been compared this way.
int32_t ParseVersion(const std::string& text);
