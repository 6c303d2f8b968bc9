// Utf8ToWide on arbitrary bytes: never reads past the text, yields at most
// two units per byte, and plain ASCII stays unit for unit.
#include <cstdint>
#include <string>

#include "manifest/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = Utf8ToWide(text);
  const size_t end = text.find('\0');
  const size_t length = end == std::string::npos ? size : end;
  if (wide.size() > length) __builtin_trap();
  bool ascii = true;
  for (size_t i = 0; i < length; ++i) ascii = ascii && data[i] < 0x80;
  if (ascii && wide.size() != length) __builtin_trap();
  return 0;
}
