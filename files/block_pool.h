#pragma once
// The buffers of the file steps. Every step that streams a file (checksum,
// inflation, the diff applier's pages and output) works through buffers of
// one block, 1 MiB, or of the file's size when that is less. A block given
// back is handed out again to the next step instead of being freed: under
// Wine the first read into a fresh 1 MiB buffer costs some 11 ms against
// 0.5 ms into one used before, and a run of one large update takes blocks
// for its inflation and then for its diff, and so on for every entry.
// At most as many blocks are kept as were in use at once (three while a diff
// is applied), so the run's peak memory is what it was without the reuse.
// Main thread only, like the steps that use it.
#include <cstdint>
#include <memory>

constexpr uint32_t kBlockSize = 1u << 20;

// Gives a buffer back: a block to the kept ones, a smaller buffer to the heap.
struct BlockDeleter {
  bool pooled = false;
  void operator()(uint8_t* buffer) const;
};
using Block = std::unique_ptr<uint8_t[], BlockDeleter>;

// A buffer of `size` bytes (at most kBlockSize): a block kept from an earlier
// step when `size` is kBlockSize and one is kept, else a new one; its bytes
// are undefined. Raises std::bad_alloc when the memory cannot be had, as
// every allocation of the standard library does: the run then ends in the
// internal-error ending, not as if a file could not be read or written.
Block TakeBlock(uint32_t size);

// How many blocks are kept for reuse now.
int KeptBlockCount();
