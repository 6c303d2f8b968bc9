#include "files/file_ops.h"

namespace {

size_t LastSeparator(const WideText& path) { return path.find_last_of(u"/\\"); }

}  // namespace

WideText DirPart(const WideText& path) {
  const size_t p = LastSeparator(path);
  return p == WideText::npos ? path : path.substr(0, p + 1);
}

WideText NamePart(const WideText& path) {
  const size_t p = LastSeparator(path);
  return p == WideText::npos ? path : path.substr(p + 1);
}
