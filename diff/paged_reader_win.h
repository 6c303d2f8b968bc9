#pragma once
// Byte-wise random-access input from a file through one resident 1 MiB page
// (the whole file when it is smaller). Reading forwards costs one file read
// per MiB; moving `position` inside the resident page costs nothing, leaving
// it reloads one page. No read-ahead, no cache of several pages. Offsets and
// the size are 32-bit: files of 2 GiB or more are outside its range.
#include <windows.h>

#include <cstdint>
#include <memory>

#include "engine/internal_error.h"
#include "files/block_pool.h"
#include "manifest/text.h"

class PagedReader {
 public:
  static constexpr uint32_t kPageShift = 20;
  static constexpr uint32_t kPageSize = 1u << kPageShift;

  PagedReader() = default;
  ~PagedReader() { Close(); }
  PagedReader(const PagedReader&) = delete;
  PagedReader& operator=(const PagedReader&) = delete;

  // Opens `path` for reading (others may read it, not write or delete it)
  // with page 0 resident and `position` 0. False when the size cannot be
  // taken, the file cannot be opened or page 0 cannot be read; the reader is
  // then without a file. The page buffer is taken here (files/block_pool.h,
  // which raises when no memory can be had), 1 MiB or the file's size when
  // that is less, and kept while it is large enough.
  bool Open(const WideText& path);
  // Makes page `index` resident; nothing is read when it already is. A failed
  // read closes the file and leaves no page resident.
  bool LoadPage(int32_t index);
  // The byte at `position` as 0..255, advancing `position`; -1 at or past the
  // end, without advancing. Raises InternalError "Cannot load page" when the
  // page holding it cannot be read.
  int GetByte() {
    if (position >= size) return -1;
    const int32_t index = static_cast<int32_t>(position >> kPageShift);
    if (index != pageIndex && !LoadPage(index)) RaiseInternalError("Cannot load page");
    return page[position++ & (kPageSize - 1)];
  }
  // Block access for the diff decoder, with `position` below `size`: the
  // bytes from `position` to the end of its page or of the file, loading
  // that page as GetByte would.
  const uint8_t* Peek(uint32_t& available) {
    const int32_t index = static_cast<int32_t>(position >> kPageShift);
    if (index != pageIndex && !LoadPage(index)) RaiseInternalError("Cannot load page");
    const uint32_t offset = position & (kPageSize - 1);
    const uint32_t in_page = kPageSize - offset;
    available = size - position < in_page ? size - position : in_page;
    return page.get() + offset;
  }
  void Advance(uint32_t count) { position += count; }
  // Closes the file and gives the page buffer back.
  void Close();

  uint32_t size = 0;      // file size taken at Open (low 32 bits)
  uint32_t position = 0;  // offset of the next byte; the diff decoder sets it to seek
  Block page;
  uint32_t capacity = 0;   // bytes `page` holds
  int32_t pageIndex = -1;  // page held in `page`, -1 for none
  HANDLE file = INVALID_HANDLE_VALUE;
};
