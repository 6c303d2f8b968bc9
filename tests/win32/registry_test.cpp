#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/registry.h"
#include "files/win_text_win.h"

namespace {

const char kKey[] = "SOFTWARE\\QtrTests\\Registry";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
        ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
  }
  void Set(const char* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  // The raw bytes and type stored under `name`.
  std::string Stored(const char* name, DWORD& type) {
    char data[4096];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
      return "<absent>";
    }
    return std::string(data, size);
  }
  static RegValue At(const char* value) { return RegValue{kKey, value}; }

  HKEY key_ = nullptr;
};

TEST_F(RegistryTest, ReadsTextNarrowAndWide) {
  Set("InstallDir", REG_SZ, std::string("C:\\Games\\Quarrytide\0", 21));
  EXPECT_EQ(ReadRegistryText(At("InstallDir")), "C:\\Games\\Quarrytide");
  EXPECT_EQ(ReadRegistryTextWide(At("InstallDir")), u"C:\\Games\\Quarrytide");
}

TEST_F(RegistryTest, AbsentOrEmptyLocationsReadEmpty) {
  EXPECT_EQ(ReadRegistryText(At("Missing")), "");
  EXPECT_EQ(ReadRegistryTextWide(At("Missing")), u"");
  EXPECT_EQ(ReadRegistryText(RegValue{"SOFTWARE\\QtrTests\\NoSuchKey", "Version"}), "");
  Set("Version", REG_SZ, std::string("1.00\0", 5));
  EXPECT_EQ(ReadRegistryText(RegValue{"", "Version"}), "");
  EXPECT_EQ(ReadRegistryText(RegValue{kKey, ""}), "");
  EXPECT_EQ(ReadRegistryTextWide(RegValue{kKey, ""}), u"");
}

TEST_F(RegistryTest, ExpandsEnvironmentReferences) {
  char program_files[MAX_PATH] = {};
  ASSERT_GT(GetEnvironmentVariableA("ProgramFiles", program_files, MAX_PATH), 0u);
  Set("InstallDir", REG_EXPAND_SZ, std::string("%ProgramFiles%\\Quarrytide\0", 27));
  EXPECT_EQ(ReadRegistryText(At("InstallDir")), std::string(program_files) + "\\Quarrytide");
  EXPECT_EQ(ReadRegistryTextWide(At("InstallDir")), Utf8ToWide(program_files) + u"\\Quarrytide");
  Set("Other", REG_SZ, std::string("%QtrNoSuchVariable%\\x\0", 23));
  EXPECT_EQ(ReadRegistryText(At("Other")), "%QtrNoSuchVariable%\\x");
}

TEST_F(RegistryTest, NonTextValuesReadAsTheirBytes) {
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(key_, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadRegistryText(At("Number")), std::string("\x01"));
}

TEST_F(RegistryTest, TheByteLimit) {
  Set("Exact", REG_BINARY, std::string(1024, 'a'));
  EXPECT_EQ(ReadRegistryText(At("Exact")), std::string(1024, 'a'));
  EXPECT_EQ(ReadRegistryTextWide(At("Exact")), WideText(512, u'\x6161'));
  Set("Long", REG_SZ, std::string(1025, 'b'));
  EXPECT_EQ(ReadRegistryText(At("Long")), "");
  EXPECT_EQ(ReadRegistryTextWide(At("Long")), u"");
}

TEST_F(RegistryTest, WideReadConvertsUtf8Names) {
  HKEY sub = nullptr;
  ASSERT_EQ(RegCreateKeyExW(key_, L"R\u00e4ume", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  const wchar_t data[] = L"D:\\Spiele\\\u00dcbung";
  ASSERT_EQ(RegSetValueExW(sub, L"Pfad\u00e9", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data),
            ERROR_SUCCESS);
  RegCloseKey(sub);
  const RegValue location{std::string(kKey) + "\\R\xc3\xa4ume", "Pfad\xc3\xa9"};
  EXPECT_EQ(ReadRegistryTextWide(location), u"D:\\Spiele\\\u00dcbung");
}

TEST_F(RegistryTest, WriteReplacesExistingTextWithPlainString) {
  Set("Version", REG_EXPAND_SZ, std::string("1.00\0", 5));
  EXPECT_EQ(WriteRegistryText(At("Version"), "1.01"), RegistryWrite::kStored);
  DWORD type = 0;
  EXPECT_EQ(Stored("Version", type), std::string("1.01\0", 5));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryTest, WriteNeverCreatesOrFillsEmptyValues) {
  EXPECT_EQ(WriteRegistryText(At("DisplayVersion"), "1.01"), RegistryWrite::kNoText);
  DWORD type = 0;
  EXPECT_EQ(Stored("DisplayVersion", type), "<absent>");
  Set("Empty", REG_SZ, std::string("\0", 1));
  EXPECT_EQ(WriteRegistryText(At("Empty"), "1.01"), RegistryWrite::kNoText);
  EXPECT_EQ(Stored("Empty", type), std::string("\0", 1));
  // Text longer than a read takes is no text either, as at start-up.
  Set("Long", REG_SZ, std::string(1025, 'b'));
  EXPECT_EQ(WriteRegistryText(At("Long"), "1.01"), RegistryWrite::kNoText);
  EXPECT_EQ(Stored("Long", type).substr(0, 1025), std::string(1025, 'b'));
  EXPECT_EQ(WriteRegistryText(RegValue{"SOFTWARE\\QtrTests\\NoSuchKey", "Version"}, "1.01"), RegistryWrite::kNoText);
  HKEY missing = nullptr;
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QtrTests\\NoSuchKey", 0, KEY_READ, &missing),
            ERROR_SUCCESS);
}

}  // namespace
