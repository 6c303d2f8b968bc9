#include "diff/paged_reader_win.h"

#include "files/win_text_win.h"

bool PagedReader::Open(const WideText& path) {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  file = CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Measured through the open handle: the same answer as measuring by name,
  // without opening the file a second time.
  LARGE_INTEGER size64;
  if (!GetFileSizeEx(file, &size64)) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    return false;
  }
  size = static_cast<uint32_t>(size64.QuadPart);
  // A file smaller than a page never needs more than its own size: most
  // files of an installation are a few kilobytes.
  const uint32_t needed = size < kPageSize ? size : kPageSize;
  if (!page || capacity < needed) {
    page.reset();
    capacity = 0;
    page = TakeBlock(needed);
    capacity = needed;
  }
  pageIndex = -1;
  position = 0;
  if (!LoadPage(0)) return false;
  return true;
}

bool PagedReader::LoadPage(int32_t index) {
  if (index == pageIndex) return true;
  if (index < 0 || !page || file == INVALID_HANDLE_VALUE) return false;
  const uint32_t start = static_cast<uint32_t>(index) << kPageShift;
  const uint32_t end = start >= size ? start : size - start < kPageSize ? size : start + kPageSize;
  // Until the page is complete no page counts as resident, so that a failed
  // read is never followed by bytes of a half-loaded buffer.
  pageIndex = -1;
  if (SetFilePointer(file, static_cast<LONG>(start), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    return false;
  }
  for (uint32_t loaded = 0; loaded < end - start;) {
    DWORD got = 0;
    if (!ReadFile(file, page.get() + loaded, end - start - loaded, &got, nullptr) || got == 0) {
      CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
      return false;
    }
    loaded += got;
  }
  pageIndex = index;
  return true;
}

void PagedReader::Close() {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  page.reset();
  capacity = 0;
  pageIndex = -1;
}
