#pragma once
// Synthetic old files and diff streams shaped like those of a game update:
// long copies with short replaced or inserted runs between them
// (copy-heavy), or mostly new bytes (literal-heavy).
#include <cstdint>
#include <vector>

namespace bench {

inline std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

inline void PutNumber(std::vector<uint8_t>& diff, uint32_t n) {
  diff.insert(diff.end(), {0xFE, static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                           static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
}

inline void PutLiterals(std::vector<uint8_t>& diff, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    diff.push_back(bytes[i]);
    if (bytes[i] == 0xA7) diff.push_back(0xA7);
  }
}

// Rebuilds a file of the old file's size: runs of `copy` old bytes, each
// followed by `fresh` replacing literals.
inline std::vector<uint8_t> MakeDiff(const std::vector<uint8_t>& old_file, uint32_t copy, uint32_t fresh) {
  std::vector<uint8_t> diff;
  const std::vector<uint8_t> literals = Noise(fresh, 99);
  uint32_t cursor = 0;
  const uint32_t size = static_cast<uint32_t>(old_file.size());
  while (cursor < size) {
    const uint32_t take = size - cursor < copy ? size - cursor : copy;
    diff.insert(diff.end(), {0xA7, 0xA3});
    PutNumber(diff, take);
    cursor += take;
    if (cursor >= size) break;
    const uint32_t put = size - cursor < fresh ? size - cursor : fresh;
    diff.insert(diff.end(), {0xA7, 0xA6});
    PutLiterals(diff, literals.data(), put);
    cursor += put;
  }
  return diff;
}

}  // namespace bench
