#include <gtest/gtest.h>

#include <string>

#include "engine/internal_error.h"
#include "manifest/patch_manifest.h"

namespace {

const char kHeader[] =
    "<version from=\"1.00\" to=\"1.01\"/>"
    "<reg_path key=\"SOFTWARE\\Morrow\\QTR\" value=\"InstallDir\"/>"
    "<reg_version key=\"SOFTWARE\\Morrow\\QTR\" value=\"Version\"/>"
    "<reg_version2 key=\"SOFTWARE\\Uninstall\\{X}\" value=\"DisplayVersion\"/>"
    "<reg_language key=\"SOFTWARE\\Morrow\\QTR\" value=\"Lang\"/>";

PatchManifest Read(const std::string& text) { return ReadPatchManifest(text.data(), text.size()); }

std::string ErrorOf(const std::string& text) {
  try {
    Read(text);
  } catch (const InternalError& error) {
    return error.what();
  }
  return "no error";
}

TEST(PatchManifest, ReadsEveryHeaderField) {
  const PatchManifest m = Read(std::string("<patch>") + kHeader + "</patch>");
  EXPECT_EQ(m.from, "1.00");
  EXPECT_EQ(m.to, "1.01");
  EXPECT_EQ(m.reg_path.key, "SOFTWARE\\Morrow\\QTR");
  EXPECT_EQ(m.reg_path.value, "InstallDir");
  EXPECT_EQ(m.reg_version.value, "Version");
  EXPECT_EQ(m.reg_version2.key, "SOFTWARE\\Uninstall\\{X}");
  EXPECT_EQ(m.reg_version2.value, "DisplayVersion");
  EXPECT_EQ(m.reg_language.value, "Lang");
}

TEST(PatchManifest, DeclarationCommentsByteOrderMarkAndUnlistedThingsChangeNothing) {
  const std::string text = std::string("\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- patch -->") +
                           "<patch extra=\"1\"><other/><group/>" + kHeader + "<more a=\"b\"/></patch>";
  const PatchManifest m = Read(text);
  EXPECT_EQ(m.from, "1.00");
  EXPECT_EQ(m.reg_language.key, "SOFTWARE\\Morrow\\QTR");
}

TEST(PatchManifest, HeaderElementsInAnyOrderAndTheFirstOfTwoWins) {
  const std::string text =
      "<patch>"
      "<reg_language key=\"L\" value=\"Lang\"/><reg_version2 key=\"U\" value=\"D\"/>"
      "<reg_version key=\"K\" value=\"V\"/><reg_path key=\"P\" value=\"I\"/>"
      "<version from=\"2.0\" to=\"2.1\"/><version from=\"9.0\" to=\"9.1\"/>"
      "</patch>";
  const PatchManifest m = Read(text);
  EXPECT_EQ(m.from, "2.0");
  EXPECT_EQ(m.to, "2.1");
  EXPECT_EQ(m.reg_path.key, "P");
}

TEST(PatchManifest, EmptyAttributesArePresent) {
  const PatchManifest m = Read(
      "<patch><version from=\"\" to=\"1.01\"/><reg_path key=\"\" value=\"\"/>"
      "<reg_version key=\"a\" value=\"b\"/><reg_version2 key=\"a\" value=\"b\"/>"
      "<reg_language key=\"a\" value=\"b\"/></patch>");
  EXPECT_EQ(m.from, "");
  EXPECT_EQ(m.reg_path.key, "");
}

TEST(PatchManifest, ChecksRunInTheirOrder) {
  EXPECT_EQ(ErrorOf(""), "Invalid main_xml");
  EXPECT_EQ(ErrorOf("not xml at all"), "Invalid main_xml");
  EXPECT_EQ(ErrorOf(std::string("<Patch>") + kHeader + "</Patch>"), "Invalid main_xml");
  EXPECT_EQ(ErrorOf("<patch><reg_path key=\"a\"/></patch>"), "Invalid main_xml");
  EXPECT_EQ(ErrorOf("<patch><VERSION from=\"1\" to=\"2\"/></patch>"), "Invalid main_xml");
  EXPECT_EQ(ErrorOf("<patch><version from=\"1\"/><reg_path key=\"a\"/></patch>"), "Invalid main_xml");
  // reg_path lacks value: the regvalue message, although later elements are missing too.
  EXPECT_EQ(ErrorOf("<patch><version from=\"1\" to=\"2\"/><reg_path key=\"a\"/></patch>"),
            "Cannot init regvalue from xml");
  // reg_path is fine, reg_version is missing: the element message.
  EXPECT_EQ(ErrorOf("<patch><version from=\"1\" to=\"2\"/><reg_path key=\"a\" value=\"b\"/>"
                    "<reg_language key=\"a\"/></patch>"),
            "Invalid main_xml");
  EXPECT_EQ(ErrorOf("<patch><version from=\"1\" to=\"2\"/><reg_path key=\"a\" value=\"b\"/>"
                    "<reg_version value=\"b\"/></patch>"),
            "Cannot init regvalue from xml");
}

TEST(PatchManifest, ReadsOnlyTheGivenLength) {
  const std::string text = std::string("<patch>") + kHeader + "</patch>";
  const std::string padded = text + "<patch><version from=\"7\" to=\"8\"/></patch>";
  const PatchManifest m = ReadPatchManifest(padded.data(), text.size());
  EXPECT_EQ(m.from, "1.00");
  EXPECT_EQ(ErrorOf(text.substr(0, 20)), "Invalid main_xml");
}

}  // namespace
