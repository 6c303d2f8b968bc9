#include <windows.h>

#include <memory>

#include "engine/language.h"
#include "engine/registry.h"
#include "engine/strings.h"
#include "manifest/patch_manifest.h"

uint16_t& CurrentLanguage() {
  static uint16_t language = [] {
    uint16_t initial = kEnglish;
    TrySetLanguage(initial, GetUserDefaultLangID());
    return initial;
  }();
  return language;
}

void TrySetLanguage(uint16_t& language, uint16_t identifier) {
  language = static_cast<uint16_t>((identifier & 0x3FF) | 0x400);
  if (LoadLocalizedString(language, IDS_BUTTON_OK).empty()) language = kEnglish;
}

void ChooseLanguage() {
  const NarrowText text = ReadRegistryText(GetPatchManifest().reg_language);
  ChooseLanguageFrom(CurrentLanguage(), text, GetUserDefaultLangID());
}
