// The patch phases end to end: the real patcher on a real installation tree
// under Wine, answering its start question Yes, then checking the files byte
// for byte, the registry values and every box it showed.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/scenario.h"

namespace {

constexpr int kYes = 6;
const wchar_t kKey[] = L"SOFTWARE\\QtrPhases";
const wchar_t kUninstallKey[] = L"SOFTWARE\\QtrPhases\\Uninstall";

const wchar_t kCorrupted[] = L"Your game installation is corrupted. Please reinstall the game.";
const wchar_t kNoSpace[] = L"Not enough disk space to install the patch.";
const wchar_t kDiskError[] =
    L"An error has occured while accessing the disk. Please ensure that no game file is being used, that you "
    L"have enough disk space, and try again.";
const wchar_t kInstalled[] = L"The patch has been properly installed on your system!";
const wchar_t kAlreadyInstalled[] =
    L"This patch is already installed on your system. Installation will abort.";

// The file plan: data\map.dat (updated, diff), bundles\patch.bundle (added),
// data\old.txt (deleted); then, in the group of this variant of qtr.exe,
// qtr.exe (updated, diff) and data\readme.txt (updated, whole file).
const wchar_t* const kBeforeFiles[] = {L"data\\map.dat", L"data\\old.txt", L"qtr.exe", L"data\\readme.txt"};
const wchar_t* const kAfterFiles[] = {L"data\\map.dat", L"bundles\\patch.bundle", L"qtr.exe",
                                      L"data\\readme.txt"};

std::wstring Fixture(const std::wstring& relative) {
  return WindowsPath(QTR_PHASES_PATCH_DIR) + L"\\" + relative;
}

// Holds a file open without sharing, as another program can.
class HeldFile {
 public:
  explicit HeldFile(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() { Release(); }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (held()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

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

  RunRecord Run(const char* program) {
    RunRecord run = RunProgram(WindowsPath(program), {{kYes, nullptr}});
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
  static void ExpectClosingBox(const RunRecord& run, const wchar_t* caption, const wchar_t* text,
                               const char* icon) {
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

TEST_F(PatchPhases, PatchesTheInstallationAndRecordsTheNewVersion) {
  const RunRecord run = Run(QTR_PROGRAM_E2E_PHASES_GOOD);
  ExpectClosingBox(run, L"Success!", kInstalled, "information");
  ExpectPatched();

  // The window showed entries' paths while installing, in plan order, then
  // success. The driver reads the window every 25 ms, so a quick entry may
  // come and go between two reads: which paths it sees is left open.
  const std::vector<std::wstring> plan = {tree.PathOf(L"data\\map.dat"), tree.PathOf(L"bundles\\patch.bundle"),
                                          tree.PathOf(L"data\\old.txt"), tree.PathOf(L"qtr.exe"),
                                          tree.PathOf(L"data\\readme.txt")};
  size_t entry = 0, paths = 0;
  bool sawSuccess = false;
  int lastOverall = 0;
  for (const ProgressRecord& state : run.progress) {
    if (state.status == L"Installing:") {
      EXPECT_FALSE(sawSuccess);
      if (!state.current_file.empty()) {
        const auto at = std::find(plan.begin() + static_cast<long>(entry), plan.end(), state.current_file);
        EXPECT_NE(at, plan.end()) << "not an entry's path, or out of order\n" << ToJsonLines(run);
        if (at != plan.end()) entry = static_cast<size_t>(at - plan.begin());
        ++paths;
      }
      EXPECT_GE(state.overall_bar, lastOverall) << ToJsonLines(run);
      lastOverall = state.overall_bar;
    }
    if (state.status == L"Success!") sawSuccess = true;
  }
  EXPECT_GT(paths, 0u) << ToJsonLines(run);
  EXPECT_TRUE(sawSuccess);
  // The last state shown before the window closed has both bars full.
  const ProgressRecord* last = nullptr;
  for (const ProgressRecord& state : run.progress) {
    if (state.visible) last = &state;
  }
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->overall_bar, 100);
  EXPECT_EQ(last->current_bar, 100);

  // A second run finds the new version and changes nothing.
  const RunRecord again = Run(QTR_PROGRAM_E2E_PHASES_GOOD);
  ExpectClosingBox(again, L"Success!", kAlreadyInstalled, "information");
  ExpectPatched();
}

TEST_F(PatchPhases, AnUnknownExecutableGetsOnlyTheCommonGroup) {
  CopyIn(Fixture(L"other_qtr.exe"), L"qtr.exe");
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
  EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\map.dat"), Fixture(L"after\\data\\map.dat")));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"bundles\\patch.bundle"), Fixture(L"after\\bundles\\patch.bundle")));
  EXPECT_FALSE(PathExists(L"data\\old.txt"));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"qtr.exe"), Fixture(L"other_qtr.exe")));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\readme.txt"), Fixture(L"before\\data\\readme.txt")));
  EXPECT_EQ(Value(kKey, L"Version"), L"1.01");
  ExpectNoTemporaryFiles();
}

TEST_F(PatchPhases, AFileHeldByAnotherProgramStopsTheRunAndARerunCompletes) {
  HeldFile held(tree.PathOf(L"data\\old.txt"));
  ASSERT_TRUE(held.held());
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kDiskError, "error");
  // The first two entries are applied, the rest and the registry are not.
  EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\map.dat"), Fixture(L"after\\data\\map.dat")));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"bundles\\patch.bundle"), Fixture(L"after\\bundles\\patch.bundle")));
  EXPECT_TRUE(PathExists(L"data\\old.txt"));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"qtr.exe"), Fixture(L"before\\qtr.exe")));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\readme.txt"), Fixture(L"before\\data\\readme.txt")));
  EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
  EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.00");
  ExpectNoTemporaryFiles();

  held.Release();
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
  ExpectPatched();
}

TEST_F(PatchPhases, AnInstalledFileOfTheWrongContentIsRefusedUntouched) {
  // The unpatched size with other content: no CRC is read before patching,
  // so only the check of the rebuilt file catches it.
  std::vector<unsigned char> map;
  ASSERT_TRUE(ReadBytes(Fixture(L"before\\data\\map.dat"), map));
  map[100000] ^= 0x20;
  ASSERT_TRUE(tree.Write(L"data\\map.dat", map));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
  ExpectUnpatched(&map);

  // The patched size with a third CRC.
  ASSERT_TRUE(ReadBytes(Fixture(L"after\\data\\map.dat"), map));
  map[7] ^= 0x01;
  ASSERT_TRUE(tree.Write(L"data\\map.dat", map));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
  ExpectUnpatched(&map);
}

TEST_F(PatchPhases, AnUpdatedFileThatIsMissingOrOfAnotherSizeIsACorruptedInstallation) {
  ASSERT_TRUE(DeleteFileW(tree.PathOf(L"data\\readme.txt").c_str()));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
  EXPECT_EQ(Value(kKey, L"Version"), L"1.00");

  const std::vector<unsigned char> odd(681, 'x');
  ASSERT_TRUE(tree.Write(L"data\\readme.txt", odd));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
  EXPECT_TRUE(HasBytes(tree.PathOf(L"data\\readme.txt"), odd));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\map.dat"), Fixture(L"before\\data\\map.dat")));
  EXPECT_TRUE(SameFiles(tree.PathOf(L"qtr.exe"), Fixture(L"before\\qtr.exe")));
  EXPECT_TRUE(PathExists(L"data\\old.txt"));
  EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
  ExpectNoTemporaryFiles();
}

TEST_F(PatchPhases, AReplacementLeftBesideARemovedTargetIsMovedInOnlyWhenItVerifies) {
  // A run stopped between removing a target and moving its verified
  // replacement in: map.dat's rebuilt "undiff.dat", readme.txt's whole
  // "new.dat", both in data\, whose first entry (map.dat) clears data\new.dat
  // before it uses it.
  ASSERT_TRUE(DeleteFileW(tree.PathOf(L"data\\map.dat").c_str()));
  std::vector<unsigned char> map;
  ASSERT_TRUE(ReadBytes(Fixture(L"after\\data\\map.dat"), map));
  map[4242] ^= 0x08;
  ASSERT_TRUE(tree.Write(L"data\\undiff.dat", map));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
  EXPECT_TRUE(HasBytes(tree.PathOf(L"data\\undiff.dat"), map));
  EXPECT_FALSE(PathExists(L"data\\map.dat"));
  EXPECT_EQ(Value(kKey, L"Version"), L"1.00");

  CopyIn(Fixture(L"after\\data\\map.dat"), L"data\\undiff.dat");
  ASSERT_TRUE(DeleteFileW(tree.PathOf(L"data\\readme.txt").c_str()));
  CopyIn(Fixture(L"after\\data\\readme.txt"), L"data\\new.dat");
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
  ExpectPatched();
}

TEST_F(PatchPhases, AGameExecutableLeftAsItsVerifiedReplacementStillSelectsItsGroup) {
  // Stopped between removing qtr.exe and moving its rebuilt bytes in: the
  // key file that selects this variant's group is missing, and a run that
  // skipped the group would report success without the game's executable.
  ASSERT_TRUE(DeleteFileW(tree.PathOf(L"qtr.exe").c_str()));
  CopyIn(Fixture(L"after\\qtr.exe"), L"undiff.dat");
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
  ExpectPatched();
}

TEST_F(PatchPhases, NotEnoughFreeSpace) {
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_NO_SPACE), L"Error!", kNoSpace, "error");
  ExpectUnpatched();
  // A negative total (-400000 + 310000 + 4000 here) counts as more than any
  // free space.
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_NEGATIVE_SPACE), L"Error!", kNoSpace, "error");
  ExpectUnpatched();
}

TEST_F(PatchPhases, AnEmptyPlanStillRecordsTheVersion) {
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_EMPTY_PLAN), L"Success!", kInstalled, "information");
  EXPECT_TRUE(SameFiles(tree.PathOf(L"qtr.exe"), Fixture(L"before\\qtr.exe")));
  EXPECT_TRUE(PathExists(L"data\\old.txt"));
  EXPECT_EQ(Value(kKey, L"Version"), L"1.01");
  EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.01");
}

TEST_F(PatchPhases, WithoutTheUninstallValueOnlyTheVersionIsWritten) {
  ASSERT_TRUE(DeleteMachineKey(kUninstallKey));
  const RunRecord run = Run(QTR_PROGRAM_E2E_PHASES_GOOD);
  ExpectClosingBox(run, L"Success!", kInstalled, "information");
  EXPECT_EQ(Value(kKey, L"Version"), L"1.01");
  EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"<absent>");
}

TEST_F(PatchPhases, FaultyPacksEndInTheInternalError) {
  for (const char* program : {QTR_PROGRAM_E2E_PHASES_BAD_PACK, QTR_PROGRAM_E2E_PHASES_BAD_FILE,
                              QTR_PROGRAM_E2E_PHASES_NO_PAYLOAD, QTR_PROGRAM_E2E_PHASES_NO_CRC2}) {
    const RunRecord run = RunProgram(WindowsPath(program), {{kYes, nullptr}});
    EXPECT_EQ(run.exit_code, kInternalErrorExit) << program << ToJsonLines(run);
    ASSERT_FALSE(run.boxes.empty());
    EXPECT_EQ(run.boxes.back().caption, L"Error!");
    EXPECT_EQ(run.boxes.back().text, L"An internal error has occured.") << program;
    EXPECT_EQ(run.boxes.size(), 2u) << program;
    EXPECT_EQ(Value(kKey, L"Version"), L"1.00") << program;
    EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.00") << program;
    ExpectUnpatched();
  }
}

}  // namespace
