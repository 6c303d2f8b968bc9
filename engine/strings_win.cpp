#include <windows.h>

#include "engine/strings.h"

WideText LoadLocalizedString(uint16_t language, int id) {
  // Block numbers are 16 bits: a larger id must not alias a lower block.
  if (id < 0 || id / 16 + 1 > 0xFFFF) return WideText();
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC block = FindResourceExA(module, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(id / 16 + 1), language);
  if (!block) return WideText();
  const DWORD size = SizeofResource(module, block);
  HGLOBAL loaded = LoadResource(module, block);
  if (!loaded) return WideText();
  const auto* units = static_cast<const uint16_t*>(LockResource(loaded));
  if (!units) return WideText();
  // Entries are a 16-bit count and that many units, without terminator; a
  // count that runs past the block's end is treated as absent.
  const size_t length = size / 2;
  size_t pos = 0;
  for (int index = 0; index < id % 16; ++index) {
    if (pos >= length) return WideText();
    pos += 1 + units[pos];
  }
  if (pos >= length || units[pos] == 0 || units[pos] > length - pos - 1) return WideText();
  return WideText(reinterpret_cast<const char16_t*>(units + pos + 1), units[pos]);
}
