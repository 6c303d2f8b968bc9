// The patcher runs with administrator rights, from a download folder that
// anyone may have put files in, on an installation that standard users may
// be able to change. None of that may turn the run against the machine:
// DLLs dropped beside the patcher do not run in it, links in the
// installation do not carry its writes and deletions elsewhere, and an
// installation folder that is not a drive or network path is not looked for
// below the current folder.
#include <algorithm>

#include "files/file_ops.h"
#include "files/win_text_win.h"
#include "tests/e2e/phases_fixture.h"

namespace {

using namespace phases;

const wchar_t kBadPath[] = L"The installation path is not valid. Please reinstall the game.";

// Files named like the patch's targets and temporary files, as someone
// would leave them in a folder a link points at.
const wchar_t* const kBait[] = {L"map.dat", L"old.txt", L"readme.txt", L"patch.bundle",
                                L"qtr.exe", L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"};

// Wine's DLL overrides for one program, by its file name, while it lives:
// "native,builtin" makes Wine look for the DLL as Windows looks for one that
// is not a KnownDLL, the program's own folder first.
class NativeFirst {
 public:
  NativeFirst(const std::wstring& program, const std::vector<std::wstring>& dlls)
      : key_(L"Software\\Wine\\AppDefaults\\" + program) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
      return;
    for (const std::wstring& dll : dlls) {
      const wchar_t order[] = L"native,builtin";
      RegSetValueExW(key, dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
    }
    RegCloseKey(key);
  }
  ~NativeFirst() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }

 private:
  std::wstring key_;
};

// Runs in the given current folder, which child processes inherit.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::wstring& folder) {
    wchar_t old[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, old);
    old_ = old;
    SetCurrentDirectoryW(folder.c_str());
  }
  ~ScopedCurrentFolder() { SetCurrentDirectoryW(old_.c_str()); }

 private:
  std::wstring old_;
};

class ElevatedRun : public PatchPhases {
 protected:
  // A folder outside the installation holding bait files and, where given,
  // a copy of the 1.00 installation below `installation`.
  void FillOutside(const TempTree& outside, const std::wstring& installation = L"") {
    for (const wchar_t* name : kBait) ASSERT_TRUE(outside.Write(name, {'b', 'a', 'i', 't'}));
    if (installation.empty()) return;
    for (const wchar_t* name : kBeforeFiles) {
      std::vector<unsigned char> bytes;
      ASSERT_TRUE(ReadBytes(Fixture(std::wstring(L"before\\") + name), bytes));
      ASSERT_TRUE(outside.Write(installation + L"\\" + name, bytes));
    }
  }

  // The refused run changed nothing: the installation, the registry and
  // the folder outside as they were.
  void ExpectNothingChanged(const std::vector<std::wstring>& outsideBefore, const TempTree& outside) {
    EXPECT_EQ(TreeListing(outside.root()), outsideBefore);
    EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
    EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.00");
  }
};

// Each planted DLL runs only where Windows' search order would load it from
// the executable's folder: Wine's override "NAME=n,b" gives a DLL that order.
TEST_F(ElevatedRun, DllsPlantedBesideThePatcherDoNotRunInIt) {
  const wchar_t* const planted[] = {L"winmm",    L"comctl32", L"uxtheme", L"version", L"userenv",
                                    L"setupapi", L"apphelp",  L"propsys", L"dwmapi",  L"cryptbase",
                                    L"oleacc",   L"clbcatq",  L"ntmarta"};
  TempTree download;
  const std::wstring patcher = download.PathOf(L"qtr_patch_1.01.exe");
  ASSERT_TRUE(CopyFileW(WindowsPath(QTR_PROGRAM_E2E_PHASES_GOOD).c_str(), patcher.c_str(), TRUE));
  std::vector<std::wstring> dlls;
  for (const wchar_t* name : planted) {
    dlls.push_back(name);
    ASSERT_TRUE(
        CopyFileW(WindowsPath(QTR_PROGRAM_PLANTED_DLL).c_str(), download.PathOf(dlls.back() + L".dll").c_str(), TRUE));
  }
  RunRecord run;
  {
    const NativeFirst overrides(L"qtr_patch_1.01.exe", dlls);
    run = RunWindowsProgram(patcher);
  }
  ExpectClosingBox(run, L"Success!", kInstalled, "information");
  ExpectPatched();
  // Wine's own start-up loads version.dll by name while it resolves the
  // imports of its built-in DLLs, before any code of the patcher runs:
  // WINEDEBUG=+loaddll,+module shows it looked for ("looking for
  // L"version.dll" in (null)"), found beside the executable and mapped right
  // after zlib1.dll and before user32.dll, the patcher's own imports. On
  // Windows kernel32 loads no such DLL. Nothing else may have run.
  const std::vector<std::wstring> loadedByWine = {L"version"};
  for (const wchar_t* name : planted) {
    const bool ran =
        GetFileAttributesW(download.PathOf(std::wstring(name) + L".dll.ran").c_str()) != INVALID_FILE_ATTRIBUTES;
    const bool wine = std::find(loadedByWine.begin(), loadedByWine.end(), name) != loadedByWine.end();
    EXPECT_TRUE(!ran || wine) << std::string(name, name + wcslen(name)) << ".dll ran in the patcher";
  }
}

// A folder link somewhere in the installation, pointing at a folder outside
// that holds files named like the patch's targets and temporary files (and,
// where the link stands for a folder of the installation, that folder's
// 1.00 files): the run stops before it changes anything, and once the link
// is gone the same patch on the same tree succeeds.
TEST_F(ElevatedRun, LinksInTheInstallationStopTheRunBeforeItChangesAnything) {
  struct Case {
    const wchar_t* link;  // below the installation
    bool holds_data;      // the link stands for data\, so its target holds data\'s
                          // files
  };
  // bundles\ gets an added file; data\ has updated and deleted entries;
  // data\new.dat, data\undiff.dat and tmp_uncomp.dat are temporary names.
  const Case cases[] = {{L"bundles", false},
                        {L"data", true},
                        {L"data\\new.dat", false},
                        {L"data\\undiff.dat", false},
                        {L"tmp_uncomp.dat", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.link, c.link + wcslen(c.link)));
    TempTree outside;
    FillOutside(outside);
    if (c.holds_data) {
      for (const wchar_t* name : {L"map.dat", L"old.txt", L"readme.txt"}) {
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(ReadBytes(Fixture(std::wstring(L"before\\data\\") + name), bytes));
        ASSERT_TRUE(outside.Write(name, bytes));
      }
    }
    const std::vector<std::wstring> outsideBefore = TreeListing(outside.root());
    const std::wstring at = tree.PathOf(c.link);
    if (c.holds_data) {
      ASSERT_TRUE(DeletePath(FromWinText(at.c_str())));
    }
    {
      UnixLink link(at, outside.root());
      ASSERT_TRUE(link.made());
      ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
      ExpectNothingChanged(outsideBefore, outside);
    }
    if (c.holds_data) {
      for (const wchar_t* name : kBeforeFiles) CopyIn(Fixture(std::wstring(L"before\\") + name), name);
    }
    ExpectUnpatched();
    ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
    ExpectPatched();
    EXPECT_EQ(TreeListing(outside.root()), outsideBefore);
    // The next case starts from 1.00 again.
    for (const wchar_t* name : kAfterFiles) ASSERT_TRUE(DeleteFileW(tree.PathOf(name).c_str()));
    for (const wchar_t* name : kBeforeFiles) CopyIn(Fixture(std::wstring(L"before\\") + name), name);
    ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
    ASSERT_TRUE(SetMachineText(kUninstallKey, L"DisplayVersion", L"1.00"));
  }
}

// A real folder under a temporary name is not the patcher's to remove: what
// is in it stays, and the run stops before it changes anything.
TEST_F(ElevatedRun, AFolderUnderATemporaryNameIsLeftAlone) {
  ASSERT_TRUE(tree.Write(L"data\\new.dat\\keep.txt", {'k', 'e', 'e', 'p'}));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kCorrupted, "error");
  EXPECT_TRUE(HasBytes(tree.PathOf(L"data\\new.dat\\keep.txt"), {'k', 'e', 'e', 'p'}));
  EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
  EXPECT_TRUE(SameFiles(tree.PathOf(L"data\\map.dat"), Fixture(L"before\\data\\map.dat")));
}

// The installation folder itself a link: refused as an invalid installation
// path at the start, with the copy of 1.00 it points at left as it was; the
// same patch on a folder that is no link succeeds.
TEST_F(ElevatedRun, AnInstallationFolderThatIsALinkIsRefused) {
  TempTree outside;
  FillOutside(outside, L"QTRgame");
  const std::vector<std::wstring> outsideBefore = TreeListing(outside.root());
  TempTree links;
  const std::wstring at = links.PathOf(L"QTRgame");
  {
    UnixLink link(at, outside.PathOf(L"QTRgame"));
    ASSERT_TRUE(link.made());
    ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", at));
    ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kBadPath, "error");
    ExpectNothingChanged(outsideBefore, outside);
  }
  // The same patch on the folder itself.
  ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", tree.root()));
  ExpectUnpatched();
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
  ExpectPatched();
}

// Wine maps the network share \\SERVER\SHARE to the folder
// dosdevices/unc/SERVER/SHARE of its prefix: a share the scenario can make.
class WineShare {
 public:
  explicit WineShare(const std::string& server) {
    const std::string drive = UnixPath(L"C:\\");  // ".../dosdevices/c:/"
    server_ = drive.substr(0, drive.rfind("/c:")) + "/unc/" + server;
    if (!RunUnix("mkdir -p " + Quoted(server_ + "/share"))) server_.clear();
  }
  ~WineShare() {
    if (!server_.empty()) RunUnix("rm -rf " + Quoted(server_));
  }
  bool made() const { return !server_.empty(); }

 private:
  std::string server_;
};

// A recorded folder that is no drive path: a network path stays one, and a
// relative one is refused. None of them reaches the copies of 1.00 planted
// where a network path that lost its leading separators would lead: below
// the root of the current drive, and below the current folder.
TEST_F(ElevatedRun, AnInstallationFolderIsNeverLookedForBelowTheCurrentFolder) {
  const WineShare share("qtrserver");
  ASSERT_TRUE(share.made());
  const std::wstring installation = L"\\\\qtrserver\\share\\QTRgame";
  ASSERT_TRUE(CreateDirectoryW(installation.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((installation + L"\\data").c_str(), nullptr));
  TempTree download;
  // Removed again, with the tree, at the end.
  const std::wstring rootPlant = download.root().substr(0, 3) + L"qtrserver";
  struct Removal {
    std::wstring path;
    ~Removal() { DeletePath(FromWinText(path.c_str())); }
  } removal{rootPlant};
  for (const wchar_t* name : kBeforeFiles) {
    const std::wstring fixture = Fixture(std::wstring(L"before\\") + name);
    ASSERT_TRUE(CopyFileW(fixture.c_str(), (installation + L"\\" + name).c_str(), TRUE));
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(ReadBytes(fixture, bytes));
    for (const wchar_t* planted : {L"QTRgame\\", L"qtrserver\\share\\QTRgame\\", L"qtrgone\\share\\QTRgame\\"})
      ASSERT_TRUE(download.Write(planted + std::wstring(name), bytes));
    ASSERT_TRUE(CreateDirectoryChain(DirPart(FromWinText((rootPlant + L"\\share\\QTRgame\\" + name).c_str()))));
    ASSERT_TRUE(CopyFileW(fixture.c_str(), (rootPlant + L"\\share\\QTRgame\\" + name).c_str(), TRUE));
  }
  const std::vector<std::wstring> planted = TreeListing(download.root());
  const std::vector<std::wstring> plantedAtRoot = TreeListing(rootPlant);
  const ScopedCurrentFolder current(download.root());

  // The share is patched, and only the share.
  ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", installation));
  ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Success!", kInstalled, "information");
  for (const wchar_t* name : kAfterFiles) {
    EXPECT_TRUE(SameFiles(installation + L"\\" + name, Fixture(std::wstring(L"after\\") + name)));
  }
  EXPECT_EQ(GetFileAttributesW((installation + L"\\data\\old.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(TreeListing(download.root()), planted);
  EXPECT_EQ(TreeListing(rootPlant), plantedAtRoot);
  EXPECT_EQ(Value(kKey, L"Version"), L"1.01");

  // A share that is not there, and folders relative to the current one.
  for (const wchar_t* recorded : {L"\\\\qtrgone\\share\\QTRgame", L"QTRgame", L"qtrgone\\share\\QTRgame"}) {
    SCOPED_TRACE(std::string(recorded, recorded + wcslen(recorded)));
    ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", recorded));
    ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
    ExpectClosingBox(Run(QTR_PROGRAM_E2E_PHASES_GOOD), L"Error!", kBadPath, "error");
    EXPECT_EQ(TreeListing(download.root()), planted);
    EXPECT_EQ(TreeListing(rootPlant), plantedAtRoot);
    EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
  }
}

}  // namespace
