#include "engine/language.h"

#include <cstdlib>
#include <cstring>

uint16_t ParseLanguageValue(const NarrowText& text) {
  // The "0x%x" reading: the prefix exactly, then what %x takes. strtoul has
  // the same rules and a defined result for a number that does not fit.
  if (std::strncmp(text.c_str(), "0x", 2) != 0) return kEnglish;
  const char* digits = text.c_str() + 2;
  char* end = nullptr;
  const unsigned long value = std::strtoul(digits, &end, 16);
  if (end == digits) return kEnglish;
  return static_cast<uint16_t>(value);
}

void ChooseLanguageFrom(uint16_t& language, const NarrowText& registry_text, uint16_t user_language) {
  const uint16_t value = ParseLanguageValue(registry_text);
  TrySetLanguage(language, value);
  if ((language & 0x3FF) != (value & 0x3FF)) TrySetLanguage(language, user_language);
}
