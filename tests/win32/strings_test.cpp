#include <gtest/gtest.h>

#include <algorithm>

#include "engine/strings.h"

namespace {

const uint16_t kLanguages[] = {1031, 1033, 1034, 1036, 1040, 1041, 1045, 1049};

struct EnglishText {
  int id;
  const char16_t* text;
};

// The English texts exactly as the patcher shows them, typos included.
const EnglishText kEnglishTexts[] = {
    {200, u"Initializing.."},
    {201, u"PATCH"},
    {203, u"Error!"},
    {204, u"The patch is already being executed."},
    {205, u"QTR is running. You need to quit it in order to install this patch."},
    {206, u"Exiting.."},
    {207, u"The game is not installed on your computer!"},
    {208, u"The installation path is not valid. Please reinstall the game."},
    {209, u"Cannot determine the installation language. Please reinstall the game."},
    {210, u"Your game installation is corrupted. Please reinstall the game."},
    {211, u"This patch is already installed on your system. Installation will abort."},
    {212, u"The game version is higher than the version you are trying to install. Installation will abort."},
    {213,
     u"The game version is too old for this patch. Ensure you have installed all previous patches and retry. "
     u"Installation will abort."},
    {214, u"Not enough disk space to install the patch."},
    {215,
     u"An error has occured while accessing the disk. Please ensure that no game file is being used, that "
     u"you have enough disk space, and try again."},
    {216, u"The patch has been properly installed on your system!"},
    {217, u"Success!"},
    {218, u"Installing:"},
    {219, u"Ok"},
    {220, u"Cancel"},
    {221, u"Retry"},
    {222, u"WARNING: the installation of the patch is about to begin.\nAre you sure you want to continue ?"},
    {224, u"Yes"},
    {225, u"No"},
};

struct ShortText {
  uint16_t language;
  int id;
  const char16_t* text;
};

// Button labels, status lines and captions of the other languages.
const ShortText kShortTexts[] = {
    {1031, 200, u"Initialisiere.."},
    {1031, 201, u"PATCH"},
    {1031, 203, u"Fehler!"},
    {1031, 206, u"Beende.."},
    {1031, 217, u"Erfolg!"},
    {1031, 218, u"Installiere:"},
    {1031, 219, u"OK"},
    {1031, 220, u"Abbrechen"},
    {1031, 221, u"Wiederholen"},
    {1031, 224, u"Ja"},
    {1031, 225, u"Nein"},
    {1034, 200, u"Iniciando.."},
    {1034, 201, u"PARCHE"},
    {1034, 203, u"\u00a1Error!"},
    {1034, 206, u"Saliendo"},
    {1034, 217, u"\u00a1Completado!"},
    {1034, 218, u"Instalando:"},
    {1034, 219, u"Aceptar"},
    {1034, 220, u"Cancelar"},
    {1034, 221, u"Reintentar"},
    {1034, 224, u"S\u00ed"},
    {1034, 225, u"No"},
    {1036, 200, u"Lancement.."},
    {1036, 201, u"PATCH"},
    {1036, 203, u"Erreur !"},
    {1036, 206, u"Fermeture.."},
    {1036, 217, u"Installation r\u00e9ussie !"},
    {1036, 218, u"Installation:"},
    {1036, 219, u"OK"},
    {1036, 220, u"Annuler"},
    {1036, 221, u"R\u00e9essayer"},
    {1036, 224, u"Oui"},
    {1036, 225, u"Non"},
    {1040, 200, u"Inizializzazione.."},
    {1040, 201, u"PATCH"},
    {1040, 203, u"Errore!"},
    {1040, 206, u"Uscita in corso.."},
    {1040, 217, u"Riuscita!"},
    {1040, 218, u"Installazione:"},
    {1040, 219, u"OK"},
    {1040, 220, u"Annulla"},
    {1040, 221, u"Riprova"},
    {1040, 224, u"S\u00ec"},
    {1040, 225, u"No"},
    {1041, 200, u"\u521d\u671f\u5316\u3057\u3066\u3044\u307e\u3059\u3002"},
    {1041, 201, u"\u30d1\u30c3\u30c1"},
    {1041, 203, u"\u30a8\u30e9\u30fc\uff01"},
    {1041, 206, u"\u7d42\u4e86\u3057\u3066\u3044\u307e\u3059\u3002"},
    {1041, 217, u"\u5b8c\u4e86\uff01"},
    {1041, 218, u"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u4e2d\uff1a"},
    {1041, 219, u"OK"},
    {1041, 220, u"\u30ad\u30e3\u30f3\u30bb\u30eb"},
    {1041, 221, u"\u518d\u8a66\u884c"},
    {1041, 224, u"\u306f\u3044"},
    {1041, 225, u"\u3044\u3044\u3048"},
    {1045, 200, u"Rozpoczynanie.."},
    {1045, 201, u"PATCH"},
    {1045, 203, u"B\u0142\u0105d!"},
    {1045, 206, u"Wyj\u015bcie.."},
    {1045, 217, u"Sukces!"},
    {1045, 218, u"Instalowanie:"},
    {1045, 219, u"Ok"},
    {1045, 220, u"Anuluj"},
    {1045, 221, u"Powt\u00f3rz"},
    {1045, 224, u"Tak"},
    {1045, 225, u"Nie"},
    {1049, 200, u"\u0418\u043d\u0438\u0446\u0438\u0430\u043b\u0438\u0437\u0430\u0446\u0438\u044f.."},
    {1049, 201, u"\u041f\u0410\u0422\u0427"},
    {1049, 203, u"\u041e\u0448\u0438\u0431\u043a\u0430!"},
    {1049, 206, u"\u0412\u044b\u0445\u043e\u0434"},
    {1049, 217, u"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u043b\u0435\u043d\u043e!"},
    {1049, 218, u"\u0418\u043d\u0441\u0442\u0430\u043b\u044f\u0446\u0438\u044f:"},
    {1049, 219, u"\u041e\u043a"},
    {1049, 220, u"\u041e\u0442\u043c\u0435\u043d\u0430"},
    {1049, 221, u"\u041f\u043e\u0432\u0442\u043e\u0440\u0438\u0442\u044c"},
    {1049, 224, u"\u0414\u0430"},
    {1049, 225, u"\u041d\u0435\u0442"},
};

TEST(LocalizedStrings, EnglishTextsAreExact) {
  for (const EnglishText& entry : kEnglishTexts) {
    EXPECT_EQ(LoadLocalizedString(1033, entry.id), entry.text) << entry.id;
  }
}

TEST(LocalizedStrings, ShortTextsOfTheOtherLanguagesAreExact) {
  for (const ShortText& entry : kShortTexts) {
    EXPECT_EQ(LoadLocalizedString(entry.language, entry.id), entry.text) << entry.language << "/" << entry.id;
  }
}

TEST(LocalizedStrings, EveryLanguageHasEveryTextAndNoOther) {
  for (uint16_t language : kLanguages) {
    for (int id = 192; id < 256; ++id) {
      const bool used = id >= 200 && id <= 225 && id != 202 && id != 223;
      EXPECT_EQ(!LoadLocalizedString(language, id).empty(), used) << language << "/" << id;
    }
    // The start question keeps its two lines; the other texts are one line.
    const WideText question = LoadLocalizedString(language, IDS_CONFIRM_START);
    EXPECT_EQ(std::count(question.begin(), question.end(), u'\n'), 1) << language;
    for (int id = 200; id <= 221; ++id) {
      const WideText text = LoadLocalizedString(language, id);
      EXPECT_EQ(text.find(u'\n'), WideText::npos) << language << "/" << id;
    }
  }
}

TEST(LocalizedStrings, GameRunningTextNamesTheGame) {
  for (uint16_t language : kLanguages) {
    const WideText text = LoadLocalizedString(language, IDS_GAME_RUNNING);
    if (language == 1041) {
      EXPECT_NE(text.find(u"\u30af\u30aa\u30ea\u30fc\u30bf\u30a4\u30c9"), WideText::npos);
      EXPECT_EQ(text.find(u"QTR"), WideText::npos);
    } else {
      EXPECT_NE(text.find(u"QTR"), WideText::npos) << language;
    }
  }
}

TEST(LocalizedStrings, LookupIsByExactLanguage) {
  // No table for Portuguese, nor for a regional variant.
  EXPECT_EQ(LoadLocalizedString(0x416, IDS_BUTTON_OK), u"");
  EXPECT_EQ(LoadLocalizedString(0x809, IDS_BUTTON_OK), u"");
  // Translations are really different texts, not copies of the English.
  for (uint16_t language : kLanguages) {
    if (language == 1033) continue;
    EXPECT_NE(LoadLocalizedString(language, IDS_PATCH_INSTALLED),
              LoadLocalizedString(1033, IDS_PATCH_INSTALLED));
  }
}

TEST(LocalizedStrings, AbsentBlocksAndBadIdsGiveEmptyText) {
  EXPECT_EQ(LoadLocalizedString(1033, 240), u"");
  EXPECT_EQ(LoadLocalizedString(1033, 0), u"");
  EXPECT_EQ(LoadLocalizedString(1033, -1), u"");
  EXPECT_EQ(LoadLocalizedString(1033, 0x7FFFFFFF), u"");
  EXPECT_EQ(LoadLocalizedString(1033, 65536 * 16 + IDS_BUTTON_OK), u"");  // would be block 13 cut to 16 bits
}

}  // namespace
