// The patch phases end to end: the real patcher on a real installation tree
// under Wine, answering its start question Yes, then checking the files byte
// for byte, the registry values and every box it showed.
#include <algorithm>

#include "tests/e2e/phases_fixture.h"

namespace {

using namespace phases;

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

TEST_F(PatchPhases, ReadOnlyFilesAreReplacedAndRemovedAsWindowsShellDoes) {
  // CD-era installations and some launchers leave game files read-only:
  // qtr.exe (updated by a diff), every file of data\ (map.dat updated by a
  // diff, readme.txt updated whole, old.txt deleted) and a stale file where
  // bundles\patch.bundle is added.
  ASSERT_TRUE(tree.Write(L"bundles\\patch.bundle", {'s', 't', 'a', 'l', 'e'}));
  for (const wchar_t* name :
       {L"qtr.exe", L"data\\map.dat", L"data\\readme.txt", L"data\\old.txt", L"bundles\\patch.bundle"}) {
    ASSERT_TRUE(SetFileAttributesW(tree.PathOf(name).c_str(), FILE_ATTRIBUTE_READONLY));
  }
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
