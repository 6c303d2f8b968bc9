// A patch made by the authoring tool, end to end: the real patcher applies
// it to a real installation under Wine, where names compare without case.
// The release renames a readme only in case, empties a saved file, changes a
// library, adds a file in a new folder and deletes one. The files must come
// out byte for byte new, with the new names, and a run interrupted at its
// end (the version not yet recorded) must finish on the next run; the same
// patch signed must run as well.
#ifdef QTR_AUTHORED_DIR
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/scenario.h"

namespace {

constexpr int kYes = 6;
const wchar_t kKey[] = L"SOFTWARE\\QtrAuthored";
const wchar_t kUninstallKey[] = L"SOFTWARE\\QtrAuthored\\Uninstall";
const wchar_t kInstalled[] = L"The patch has been properly installed on your system!";
const wchar_t* const kOldFiles[] = {L"Data\\Readme.TXT", L"save\\slot1.dat", L"bin\\game.dll",
                                    L"maps\\old_level.map", L"keep.txt"};
const wchar_t* const kNewFiles[] = {L"Data\\README.txt", L"save\\slot1.dat", L"bin\\game.dll",
                                    L"music\\theme.ogg", L"keep.txt"};

std::wstring Fixture(const std::wstring& relative) {
  return WindowsPath(QTR_AUTHORED_DIR) + L"\\" + relative;
}

// The name the file system holds for `path`, in its own case.
std::wstring StoredName(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return L"<missing>";
  FindClose(find);
  return data.cFileName;
}

class AuthoredPatch : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* name : kOldFiles) {
      std::vector<unsigned char> bytes;
      ASSERT_TRUE(ReadBytes(Fixture(std::wstring(L"trees\\old\\") + name), bytes));
      ASSERT_TRUE(tree.Write(name, bytes));
    }
    ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", tree.root()));
    ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
    ASSERT_TRUE(SetMachineText(kUninstallKey, L"DisplayVersion", L"1.00"));
  }

  void RunAndExpectSuccess(const wchar_t* patch) {
    const RunRecord run = RunProgram(Fixture(patch), {{kYes, nullptr}});
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timed_out) << ToJsonLines(run);
    ASSERT_EQ(run.boxes.size(), 2u) << ToJsonLines(run);
    EXPECT_EQ(run.boxes[1].text, kInstalled) << ToJsonLines(run);
    EXPECT_EQ(run.exit_code, 0u);
  }

  void ExpectNewTree() {
    for (const wchar_t* name : kNewFiles)
      EXPECT_TRUE(SameFiles(tree.PathOf(name), Fixture(std::wstring(L"trees\\new\\") + name)))
          << std::string(name, name + wcslen(name));
    EXPECT_EQ(StoredName(tree.PathOf(L"Data\\README.txt")), L"README.txt");
    EXPECT_EQ(GetFileAttributesW(tree.PathOf(L"maps\\old_level.map").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(tree.PathOf(L"maps").c_str()), INVALID_FILE_ATTRIBUTES);  // folders stay
    std::wstring version;
    EXPECT_TRUE(GetMachineText(kKey, L"Version", version));
    EXPECT_EQ(version, L"1.01");
  }

  RegistryKeyGuard registry{kKey};
  TempTree tree;
};

TEST_F(AuthoredPatch, ACaseOnlyRenameAndAnEmptiedFileArePatchedAndARerunFinishes) {
  RunAndExpectSuccess(L"patch.exe");
  ExpectNewTree();
  // Interrupted after its last entry, before the version was recorded: the
  // next run recognises every entry and finishes.
  ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
  RunAndExpectSuccess(L"patch.exe");
  ExpectNewTree();
}

TEST_F(AuthoredPatch, TheSignedPatchRunsAsWell) {
  RunAndExpectSuccess(L"patch-signed.exe");
  ExpectNewTree();
}

}  // namespace
#endif
