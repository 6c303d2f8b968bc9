#pragma once
// The language of the run: chosen once at start-up from the installation's
// registry value, then read by every text lookup.
#include <cstdint>

#include "manifest/text.h"

constexpr uint16_t kEnglish = 1033;

// The process-wide current language. The first call sets it from the user's
// default language.
uint16_t& CurrentLanguage();

// Stores identifier's primary language with sublanguage 1 into `language`,
// or 1033 when that language has no table (its text 219 is empty).
void TrySetLanguage(uint16_t& language, uint16_t identifier);

// Reads a language value "0x" followed by hexadecimal digits (lower-case x,
// nothing before it); any other text gives 1033.
uint16_t ParseLanguageValue(const NarrowText& text);

// The registry's language if it has a table, else the user's language if it
// has one, else English: no usable registry value gives English.
void ChooseLanguageFrom(uint16_t& language, const NarrowText& registry_text, uint16_t user_language);

// Sets the current language from the manifest's reg_language value; the
// first use of the manifest in a run, so a bad manifest raises here.
void ChooseLanguage();
