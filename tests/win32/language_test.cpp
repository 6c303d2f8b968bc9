#include <gtest/gtest.h>

#include "engine/language.h"

namespace {

uint16_t Chosen(const NarrowText& registry_text, uint16_t user_language) {
  uint16_t language = 0;
  ChooseLanguageFrom(language, registry_text, user_language);
  return language;
}

TEST(Language, RegistryValueWithATableWins) {
  EXPECT_EQ(Chosen("0x040c", 1031), 1036);
  EXPECT_EQ(Chosen("0x0c0a", 1033), 1034);  // Spanish, modern sort: primary 0x0A
  EXPECT_EQ(Chosen("0x40c and more words", 1031), 1036);
  EXPECT_EQ(Chosen("0x0419", 1031), 1049);
  EXPECT_EQ(Chosen("0x0411", 1033), 1041);
}

TEST(Language, RegistryLanguageWithoutTableFallsBackToTheUser) {
  EXPECT_EQ(Chosen("0x0416", 1031), 1031);
  EXPECT_EQ(Chosen("0x0416", 0x0c07), 1031);  // German as used in Luxembourg
  EXPECT_EQ(Chosen("0x0416", 0x0416), 1033);
  EXPECT_EQ(Chosen("0x0416", 0x0813), 1033);  // Dutch, no table either
}

TEST(Language, UnusableRegistryTextGivesEnglishWhateverTheUser) {
  for (const char* text : {"", "1036", " 0x40c", "0X40C", "0x", "0xzz", "fr"}) {
    EXPECT_EQ(Chosen(text, 1031), 1033) << '"' << text << '"';
  }
}

TEST(Language, HugeHexadecimalTextDoesNotCrash) {
  const uint16_t language = Chosen("0x" + std::string(5000, 'f'), 1045);
  EXPECT_EQ(language, 1045);  // saturates to 0xFFFF, a language without table
}

TEST(Language, TrySetLanguageStoresSublanguageOneOrEnglish) {
  uint16_t language = 0;
  TrySetLanguage(language, 3084);  // French as used in Canada
  EXPECT_EQ(language, 1036);
  TrySetLanguage(language, 2057);  // English as used in Britain
  EXPECT_EQ(language, 1033);
  TrySetLanguage(language, 0x0416);
  EXPECT_EQ(language, 1033);
  TrySetLanguage(language, 0x0415);
  EXPECT_EQ(language, 1045);
}

TEST(Language, ParseLanguageValueReadsTheHexadecimalForm) {
  EXPECT_EQ(ParseLanguageValue("0x407"), 0x407);
  EXPECT_EQ(ParseLanguageValue("0x0c0a"), 0x0c0a);
  EXPECT_EQ(ParseLanguageValue("0x10407"), 0x0407);  // the low 16 bits count
  EXPECT_EQ(ParseLanguageValue("0X407"), kEnglish);
  EXPECT_EQ(ParseLanguageValue("1031"), kEnglish);
}

}  // namespace
