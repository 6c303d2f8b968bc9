#include <gtest/gtest.h>

#include <string>

#include "manifest/text.h"

namespace {

TEST(Utf8ToWide, AsciiAndMultiByteSequences) {
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(Utf8ToWide("patch.bundle"), u"patch.bundle");
  EXPECT_EQ(Utf8ToWide("\xC3\xA9"), std::u16string(1, 0x00E9));
  EXPECT_EQ(Utf8ToWide("\xE2\x82\xAC"), std::u16string(1, 0x20AC));
  EXPECT_EQ(Utf8ToWide("a\xF0\x9F\x98\x80z"), (std::u16string{u'a', 0xD83D, 0xDE00, u'z'}));
}

TEST(Utf8ToWide, OverlongFormsDecodeToTheirBits) {
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"/");
}

TEST(Utf8ToWide, StopsAtTheFirstNul) {
  const std::string text("ab\0cd", 5);
  EXPECT_EQ(Utf8ToWide(text), u"ab");
}

TEST(Utf8ToWide, BytesThatStartNoSequenceBecomeReplacementAndAreSteppedOver) {
  EXPECT_EQ(Utf8ToWide("a\x80" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
  EXPECT_EQ(Utf8ToWide("\xBF\xF8\xFF"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));
}

TEST(Utf8ToWide, SequencesCutShortByTheEndNeverReadPastIt) {
  // Each text is held in a buffer with a guard byte after its NUL; a decoder
  // that reads past the NUL would take the guard's bits into the result.
  for (const char* cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "x\xE2"}) {
    std::string text(cut);
    const std::u16string wide = Utf8ToWide(text);
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide.back(), 0xFFFD) << "for a text of " << text.size() << " bytes";
  }
  EXPECT_EQ(Utf8ToWide("\xE2\x82"), std::u16string(1, 0xFFFD));
}

TEST(Utf8ToWide, DecoderStopsAtTheNulInsideASequence) {
  const char text[] = {'\xE2', '\x82', '\0', 'Z', 'Z'};
  const DecodedChar decoded = DecodeUtf8Char(text, 0);
  EXPECT_EQ(decoded.code, 0xFFFDu);
  EXPECT_EQ(decoded.next, 2u);
}

TEST(Utf8ToWide, TextsAroundTheBufferBoundaryConvertCompletely) {
  for (size_t length : {90u, 91u, 92u, 93u, 182u, 183u, 184u, 1000u}) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
    const std::u16string wide = Utf8ToWide(text);
    ASSERT_EQ(wide.size(), length);
    for (size_t i = 0; i < length; ++i) ASSERT_EQ(wide[i], static_cast<char16_t>(text[i])) << i;
  }
}

TEST(Utf8ToWide, SurrogatePairAtTheBufferBoundaryIsKeptWhole) {
  std::string text(90, 'x');
  text += "\xF0\x9F\x98\x80";
  text += "y";
  const std::u16string wide = Utf8ToWide(text);
  ASSERT_EQ(wide.size(), 93u);
  EXPECT_EQ(wide[90], 0xD83D);
  EXPECT_EQ(wide[91], 0xDE00);
  EXPECT_EQ(wide[92], u'y');
}

TEST(NormalizePath, Examples) {
  EXPECT_EQ(NormalizePath(u"C:/Games//Quarrytide/", false), u"C:\\Games\\Quarrytide");
  EXPECT_EQ(NormalizePath(u"/bundles/patch.bundle", false), u"bundles\\patch.bundle");
  // A network path stays one where a leading separator is kept: losing a
  // separator made it a path below the current drive's root, or below the
  // current folder.
  EXPECT_EQ(NormalizePath(u"\\\\server\\share\\game", true), u"\\\\server\\share\\game");
  EXPECT_EQ(NormalizePath(u"//server//share/game/", true), u"\\\\server\\share\\game");
  EXPECT_EQ(NormalizePath(u"\\\\server\\share\\game", false), u"server\\share\\game");
  EXPECT_EQ(NormalizePath(u"\\games", true), u"\\games");
  EXPECT_EQ(NormalizePath(u"data\\sounds//menu/a.wav", false), u"data\\sounds\\menu\\a.wav");
}

TEST(NormalizePath, OnlySeparatorsGiveEmptyText) {
  for (bool keep : {false, true}) {
    EXPECT_EQ(NormalizePath(u"/", keep), u"");
    EXPECT_EQ(NormalizePath(u"\\/\\//", keep), u"");
  }
}

TEST(NormalizePath, IsIdempotentAndKeepsEverythingElse) {
  for (const char16_t* path : {u"C:\\Games\\Q", u"C:/a/../B c/./d//", u"/x/", u"..\\Up", u"rel", u"\\\\s\\sh"}) {
    const std::u16string once = NormalizePath(path, false);
    EXPECT_EQ(NormalizePath(once, false), once);
    const std::u16string kept = NormalizePath(path, true);
    EXPECT_EQ(NormalizePath(kept, true), kept);
  }
  EXPECT_EQ(NormalizePath(u"C:/a/../B c/./d//", false), u"C:\\a\\..\\B c\\.\\d");
}

// Only a path that names one place whatever the current folder and drive
// may be an installation folder.
TEST(IsAbsolutePath, DrivePathsAndNetworkSharesOnly) {
  for (const char16_t* path : {u"C:\\Games\\QTR", u"d:/games", u"C:\\", u"\\\\server\\share\\QTR", u"//server/share",
                               u"\\\\\\server\\\\share"}) {
    EXPECT_TRUE(IsAbsolutePath(path)) << std::string(path, path + std::char_traits<char16_t>::length(path));
  }
  for (const char16_t* path : {u"", u"QTR", u"games\\QTR", u"\\games\\QTR", u"C:", u"C:games", u"1:\\x", u"\\\\server",
                               u"\\\\server\\", u"\\\\?\\C:\\QTR", u"\\\\.\\C:\\QTR", u"\\\\\\\\"}) {
    EXPECT_FALSE(IsAbsolutePath(path)) << std::string(path, path + std::char_traits<char16_t>::length(path));
  }
}

TEST(ParseInt64, ReadsLikePercentLld) {
  EXPECT_EQ(ParseInt64("20353027"), 20353027);
  EXPECT_EQ(ParseInt64("  42abc"), 42);
  EXPECT_EQ(ParseInt64("abc"), 0);
  EXPECT_EQ(ParseInt64(""), 0);
  EXPECT_EQ(ParseInt64("-5"), -5);
  EXPECT_EQ(ParseInt64("+7"), 7);
  EXPECT_EQ(ParseInt64("\t\n 9"), 9);
  EXPECT_EQ(ParseInt64("- 5"), 0);
  EXPECT_EQ(ParseInt64("8589934592"), 8589934592LL);
  EXPECT_EQ(ParseInt64("99999999999999999999"), INT64_MAX);
  EXPECT_EQ(ParseInt64("-99999999999999999999"), INT64_MIN);
}

TEST(ParseAtoi, ReadsLikeAtoi) {
  EXPECT_EQ(ParseAtoi("5003"), 5003);
  EXPECT_EQ(ParseAtoi(" 1x"), 1);
  EXPECT_EQ(ParseAtoi("yes"), 0);
  EXPECT_EQ(ParseAtoi("-1"), -1);
}

}  // namespace
