#pragma once
// The installation of the patch-phase scenarios: the real patcher on a copy
// of the 1.00 tree under Wine, its start question answered Yes, then the
// files checked byte for byte, the registry values and every box it showed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/e2e/scenario.h"

namespace phases {

constexpr int kYes = 6;
const wchar_t kKey[] = L"SOFTWARE\\QtrPhases";
const wchar_t kUninstallKey[] = L"SOFTWARE\\QtrPhases\\Uninstall";

const wchar_t kCorrupted[] = L"Your game installation is corrupted. Please reinstall the game.";
const wchar_t kNoSpace[] = L"Not enough disk space to install the patch.";
const wchar_t kDiskError[] =
    L"An error has occured while accessing the disk. Please ensure that no "
    L"game file is being used, that you "
    L"have enough disk space, and try again.";
const wchar_t kInstalled[] = L"The patch has been properly installed on your system!";
const wchar_t kAlreadyInstalled[] = L"This patch is already installed on your system. Installation will abort.";

// The file plan: data\map.dat (updated, diff), bundles\patch.bundle (added),
// data\old.txt (deleted); then, in the group of this variant of qtr.exe,
// qtr.exe (updated, diff) and data\readme.txt (updated, whole file).
const wchar_t* const kBeforeFiles[] = {L"data\\map.dat", L"data\\old.txt", L"qtr.exe", L"data\\readme.txt"};
const wchar_t* const kAfterFiles[] = {L"data\\map.dat", L"bundles\\patch.bundle", L"qtr.exe", L"data\\readme.txt"};

inline std::wstring Fixture(const std::wstring& relative) {
  return WindowsPath(QTR_PHASES_PATCH_DIR) + L"\\" + relative;
}

class PatchPhases : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* name : kBeforeFiles) CopyIn(Fixture(std::wstring(L"before\\") + name), name);
    ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", tree.root()));
    ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
    ASSERT_TRUE(SetMachineText(kUninstallKey, L"DisplayVersion", L"1.00"));
  }

  void CopyIn(const std::wstring& from, const std::wstring& relative) {
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(ReadBytes(from, bytes)) << std::string(from.begin(), from.end());
    ASSERT_TRUE(tree.Write(relative, bytes));
  }

  RunRecord Run(const char* program) { return RunWindowsProgram(WindowsPath(program)); }

  // A patcher by its Windows path (a copy somewhere else, say).
  RunRecord RunWindowsProgram(const std::wstring& program) {
    RunRecord run = RunProgram(program, {{kYes, nullptr}});
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timed_out) << ToJsonLines(run);
    EXPECT_EQ(run.progress_windows_at_exit, 0);
    return run;
  }

  static std::wstring Value(const wchar_t* key, const wchar_t* name) {
    std::wstring text;
    return GetMachineText(key, name, text) ? text : L"<absent>";
  }

  // The start question, then exactly one closing box.
  static void ExpectClosingBox(const RunRecord& run, const wchar_t* caption, const wchar_t* text, const char* icon) {
    ASSERT_EQ(run.boxes.size(), 2u) << ToJsonLines(run);
    EXPECT_EQ(run.boxes[0].caption, L"Quarrytide");
    const BoxRecord& box = run.boxes[1];
    EXPECT_EQ(box.caption, caption) << ToJsonLines(run);
    EXPECT_EQ(box.text, text) << ToJsonLines(run);
    EXPECT_EQ(box.icon, icon);
    EXPECT_TRUE(box.topmost);
    EXPECT_EQ(run.exit_code, 0u);
  }

  void ExpectPatched() {
    for (const wchar_t* name : kAfterFiles) {
      EXPECT_TRUE(SameFiles(tree.PathOf(name), Fixture(std::wstring(L"after\\") + name)))
          << std::string(name, name + wcslen(name));
    }
    EXPECT_FALSE(PathExists(L"data\\old.txt"));
    EXPECT_EQ(Value(kKey, L"Version"), L"1.01");
    EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.01");
    ExpectNoTemporaryFiles();
  }

  // Every file as it was before the run, the map as `map` says.
  void ExpectUnpatched(const std::vector<unsigned char>* map = nullptr) {
    if (map != nullptr) {
      EXPECT_TRUE(HasBytes(tree.PathOf(L"data\\map.dat"), *map));
    } else {
      EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\map.dat"), Fixture(L"before\\data\\map.dat")));
    }
    EXPECT_TRUE(SameFiles(tree.PathOf(L"qtr.exe"), Fixture(L"before\\qtr.exe")));
    EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\readme.txt"), Fixture(L"before\\data\\readme.txt")));
    EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\old.txt"), Fixture(L"before\\data\\old.txt")));
    EXPECT_FALSE(PathExists(L"bundles\\patch.bundle"));
    EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
    EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.00");
    ExpectNoTemporaryFiles();
  }

  void ExpectNoTemporaryFiles() {
    const std::vector<std::wstring> found = TemporaryFilesBelow(tree.root());
    EXPECT_TRUE(found.empty()) << std::string(found[0].begin(), found[0].end());
  }

  bool PathExists(const std::wstring& relative) const {
    return GetFileAttributesW(tree.PathOf(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  RegistryKeyGuard registry{kKey};
  TempTree tree;
};

}  // namespace phases
