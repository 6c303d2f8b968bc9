#include "files/block_pool.h"

namespace {

// Four is more than any step holds at once.
constexpr int kMostKept = 4;
uint8_t* kept[kMostKept];
int kept_count = 0;

}  // namespace

void BlockDeleter::operator()(uint8_t* buffer) const {
  if (pooled && kept_count < kMostKept) {
    kept[kept_count++] = buffer;
    return;
  }
  delete[] buffer;
}

Block TakeBlock(uint32_t size) {
  const bool pooled = size == kBlockSize;
  if (pooled && kept_count > 0) return Block(kept[--kept_count], BlockDeleter{true});
  return Block(new uint8_t[size == 0 ? 1 : size], BlockDeleter{pooled});
}

int KeptBlockCount() { return kept_count; }
