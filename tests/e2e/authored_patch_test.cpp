// Patches made by the authoring tool, end to end: the real patcher applies
// them to real installations under Wine, where names compare without case.
// The first release renames a readme only in case, empties a saved file,
// changes a library, adds a file in a new folder and deletes one. The files
// must come out byte for byte new, with the new names, and a run interrupted
// at its end (the version not yet recorded) must finish on the next run; the
// same patch signed must run as well. The second is one patch for a release
// matrix of two editions by three languages (make_matrix_trees.py), which
// every cell's installation, in its own language, must come out of as that
// cell's 1.01, also after a run killed part-way.
#ifdef QTR_AUTHORED_DIR
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
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

const wchar_t kMatrixKey[] = L"SOFTWARE\\QtrMatrix";
const wchar_t kMatrixUninstallKey[] = L"SOFTWARE\\QtrMatrix\\Uninstall";
const wchar_t kCaption[] = L"Quarrytide: PATCH 1.00 -> 1.01";  // in English, French and German alike
constexpr unsigned kKilled = 77;

struct Cell {
  const wchar_t* name;
  const wchar_t* language;   // the registry's language value
  const wchar_t* installed;  // text 216 in that language
};

const wchar_t kInstalledFr[] = L"Le patch a \u00e9t\u00e9 correctement install\u00e9 sur votre syst\u00e8me !";
const wchar_t kInstalledDe[] = L"Der Patch wurde erfolgreich auf Ihrem System installiert!";
const Cell kCells[] = {
    {L"censored-en", L"0x0409", kInstalled},   {L"censored-fr", L"0x040c", kInstalledFr},
    {L"censored-de", L"0x0407", kInstalledDe}, {L"uncensored-en", L"0x0409", kInstalled},
    {L"uncensored-fr", L"0x040c", kInstalledFr}, {L"uncensored-de", L"0x0407", kInstalledDe},
};

std::wstring MatrixTree(const Cell& cell, const wchar_t* version) {
  return Fixture(std::wstring(L"matrix\\trees\\") + cell.name + L"\\" + version);
}

std::wstring MatrixValue(const wchar_t* key, const wchar_t* name) {
  std::wstring text;
  return GetMachineText(key, name, text) ? text : L"<absent>";
}

class MatrixPatch : public ::testing::Test {
 protected:
  // The cell's 1.00 in `tree`, and its registry values with its language.
  void Install(const Cell& cell, const TempTree& tree) {
    ASSERT_TRUE(RunUnix("cp -r " + Quoted(UnixPath(MatrixTree(cell, L"1.00"))) + "/. " + Quoted(UnixPath(tree.root()))));
    ASSERT_TRUE(SetMachineText(kMatrixKey, L"InstallDir", tree.root()));
    ASSERT_TRUE(SetMachineText(kMatrixKey, L"Version", L"1.00"));
    ASSERT_TRUE(SetMachineText(kMatrixKey, L"Lang", cell.language));
    ASSERT_TRUE(SetMachineText(kMatrixUninstallKey, L"DisplayVersion", L"1.00"));
  }

  void ExpectSuccess(const Cell& cell, const RunRecord& run) {
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timed_out) << ToJsonLines(run);
    ASSERT_EQ(run.boxes.size(), 2u) << ToJsonLines(run);
    EXPECT_EQ(run.boxes[1].text, cell.installed) << ToJsonLines(run);
    EXPECT_EQ(run.exit_code, 0u);
  }

  // The cell's 1.01 byte for byte, nothing else, no temporary file, the new
  // version recorded.
  void ExpectNewTree(const Cell& cell, const TempTree& tree) {
    EXPECT_EQ(TreeListing(tree.root()), TreeListing(MatrixTree(cell, L"1.01")));
    EXPECT_TRUE(TemporaryFilesBelow(tree.root()).empty());
    EXPECT_EQ(MatrixValue(kMatrixKey, L"Version"), L"1.01");
    EXPECT_EQ(MatrixValue(kMatrixUninstallKey, L"DisplayVersion"), L"1.01");
  }

  RegistryKeyGuard registry{kMatrixKey};
  const std::wstring patch = Fixture(L"matrix\\patch.exe");
};

TEST_F(MatrixPatch, EveryCellInItsLanguageComesOutAsItsNewVersion) {
  for (const Cell& cell : kCells) {
    SCOPED_TRACE(std::string(cell.name, cell.name + wcslen(cell.name)));
    TempTree tree;
    Install(cell, tree);
    ExpectSuccess(cell, RunProgram(patch, {{kYes, nullptr}}));
    ExpectNewTree(cell, tree);
  }
}

// Killed while the file of its edition only is rebuilt, after the key file
// of that group, the edition's executable, was patched: the next run still
// selects the group (by the executable's new checksum) and finishes it.
TEST_F(MatrixPatch, ARunKilledAfterItsKeyFileWasPatchedIsFinishedByTheNext) {
  const Cell& cell = kCells[4];  // uncensored-fr: an added file, a deletion, a file of its edition only
  TempTree tree;
  Install(cell, tree);
  const std::wstring only = tree.PathOf(L"uncut\\gore.pak");
  const RunRecord killed = RunProgramWatched(
      patch, {{kYes, nullptr}}, kCaption, [&only](HWND window) { return CurrentFileOf(window) == only; },
      [](HWND window) { KillOwnerOf(window, kKilled); }, false);
  ASSERT_EQ(killed.exit_code, kKilled) << "the run was not interrupted\n" << ToJsonLines(killed);
  EXPECT_EQ(MatrixValue(kMatrixKey, L"Version"), L"1.00");
  ASSERT_TRUE(SameFiles(tree.PathOf(L"qtr.exe"), MatrixTree(cell, L"1.01") + L"\\qtr.exe"));
  ASSERT_FALSE(SameFiles(only, MatrixTree(cell, L"1.01") + L"\\uncut\\gore.pak"));
  ExpectSuccess(cell, RunProgram(patch, {{kYes, nullptr}}));
  ExpectNewTree(cell, tree);
}

}  // namespace
#endif
