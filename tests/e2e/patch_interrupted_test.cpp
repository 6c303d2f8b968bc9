// Runs killed part-way through the install phase, or stopped there by a disk
// that filled up, and then run again: the second run must finish the patch
// byte for byte, record the new version and leave no temporary file,
// whichever moment the first run stopped at.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/scenario.h"

namespace {

constexpr int kYes = 6;
constexpr UINT kKilled = 77;
const wchar_t kKey[] = L"SOFTWARE\\QtrPhases";
const wchar_t kUninstallKey[] = L"SOFTWARE\\QtrPhases\\Uninstall";
const wchar_t kCaption[] = L"Quarrytide: PATCH 1.00 -> 1.01";
const wchar_t kInstalled[] = L"The patch has been properly installed on your system!";
const wchar_t kAlreadyInstalled[] =
    L"This patch is already installed on your system. Installation will abort.";
const wchar_t kDiskError[] =
    L"An error has occured while accessing the disk. Please ensure that no game file is being used, that you "
    L"have enough disk space, and try again.";

// The file plan: data\world.dat (updated, deflated diff), maps\coast\harbour.map
// (added in new folders), data\old.txt (deleted), data\sky.dat (updated,
// deflated whole file of the old size) and data\terrain.dat (updated, plain
// diff).
const wchar_t* const kBeforeFiles[] = {L"data\\world.dat", L"data\\old.txt", L"data\\sky.dat",
                                       L"data\\terrain.dat"};
const wchar_t* const kAfterFiles[] = {L"data\\world.dat", L"maps\\coast\\harbour.map", L"data\\sky.dat",
                                      L"data\\terrain.dat"};

std::wstring Fixture(const std::wstring& relative) {
  return WindowsPath(QTR_PHASES_PATCH_DIR) + L"\\big\\" + relative;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Value(const wchar_t* key, const wchar_t* name) {
  std::wstring text;
  return GetMachineText(key, name, text) ? text : L"<absent>";
}

void Kill(HWND window) { KillOwnerOf(window, kKilled); }

// A point of the install phase, judged from the window, the files and the
// registry.
using Point = std::function<bool(HWND window, const TempTree& tree)>;

// Runs the big patch on `tree` and, once `reached` holds, calls `act` with
// the window, and with `again` on every look after that until the run ends.
RunRecord RunWatched(const TempTree& tree, const Point& reached, const std::function<void(HWND)>& act, bool again) {
  return RunProgramWatched(
      WindowsPath(QTR_PROGRAM_E2E_PHASES_BIG), {{kYes, nullptr}}, kCaption,
      [&](HWND window) { return reached(window, tree); }, act, again);
}

struct Interruption {
  const char* name;
  Point reached;
  // What the killed run must have left, where that is certain (may be empty).
  std::function<void(const TempTree& tree)> expect_left;
  // Killed after the new version was recorded: the rerun finds it installed.
  bool recorded = false;
};

// Test names and failure messages show the point by its name.
void PrintTo(const Interruption& interruption, std::ostream* out) { *out << interruption.name; }

class PatchInterrupted : public ::testing::TestWithParam<Interruption> {
 protected:
  void SetUp() override {
    for (const wchar_t* name : kBeforeFiles) {
      std::vector<unsigned char> bytes;
      ASSERT_TRUE(ReadBytes(Fixture(std::wstring(L"before\\") + name), bytes));
      ASSERT_TRUE(tree.Write(name, bytes));
    }
    ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", tree.root()));
    ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
    ASSERT_TRUE(SetMachineText(kUninstallKey, L"DisplayVersion", L"1.00"));
  }

  // Runs the patcher and kills it as soon as `reached` holds.
  RunRecord RunAndKill(const Point& reached) { return RunWatched(tree, reached, Kill, false); }

  RegistryKeyGuard registry{kKey};
  TempTree tree;
};

TEST_P(PatchInterrupted, ARunAgainCompletesThePatch) {
  const RunRecord killed = RunAndKill(GetParam().reached);
  ASSERT_EQ(killed.exit_code, kKilled) << "the run was not interrupted\n" << ToJsonLines(killed);
  if (GetParam().expect_left) GetParam().expect_left(tree);
  EXPECT_EQ(Value(kKey, L"Version"), GetParam().recorded ? L"1.01" : L"1.00");

  const RunRecord again = RunProgram(WindowsPath(QTR_PROGRAM_E2E_PHASES_BIG), {{kYes, nullptr}});
  EXPECT_EQ(again.exit_code, 0u);
  ASSERT_EQ(again.boxes.size(), 2u) << ToJsonLines(again);
  EXPECT_EQ(again.boxes[1].caption, L"Success!");
  EXPECT_EQ(again.boxes[1].text, GetParam().recorded ? kAlreadyInstalled : kInstalled) << ToJsonLines(again);
  for (const wchar_t* name : kAfterFiles) {
    EXPECT_TRUE(SameFiles(tree.PathOf(name), Fixture(std::wstring(L"after\\") + name)))
        << std::string(name, name + wcslen(name));
  }
  EXPECT_FALSE(Exists(tree.PathOf(L"data\\old.txt")));
  const std::vector<std::wstring> temporary = TemporaryFilesBelow(tree.root());
  EXPECT_TRUE(temporary.empty()) << std::string(temporary[0].begin(), temporary[0].end());
  EXPECT_EQ(Value(kKey, L"Version"), L"1.01");
  EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.01");
}

bool Has(const TempTree& tree, const wchar_t* relative) { return Exists(tree.PathOf(relative)); }

bool Current(HWND window, const TempTree& tree, const wchar_t* relative) {
  return CurrentFileOf(window) == tree.PathOf(relative);
}

bool Is(const TempTree& tree, const wchar_t* name, const wchar_t* version) {
  return SameFiles(tree.PathOf(name), Fixture(std::wstring(version) + L"\\" + name));
}

// Kills once the overall bar has reached `percent`: a point that cannot be
// missed, wherever the entries' steps fall.
Interruption AtOverall(const char* name, int percent) {
  return {name, [percent](HWND window, const TempTree&) { return OverallBarOf(window) >= percent; }, nullptr};
}

const Interruption kInterruptions[] = {
    {"AtTheFirstEntry", [](HWND window, const TempTree& tree) { return Current(window, tree, L"data\\world.dat"); },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\world.dat", L"before")); }},
    // The deflated diff is being written out or inflated.
    {"UnpackingTheDiff",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\world.dat") && Has(tree, L"data\\tmp_uncomp.dat");
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\world.dat", L"before")); }},
    {"RebuildingFromTheDiff",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\world.dat") && Has(tree, L"data\\undiff.dat");
     },
     [](const TempTree& tree) { EXPECT_FALSE(Has(tree, L"maps\\coast\\harbour.map")); }},
    {"AddingAFileInNewFolders",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"maps\\coast\\harbour.map") && Has(tree, L"maps\\coast\\new.dat");
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\world.dat", L"after")); }},
    // The deleted entry shows for a few milliseconds only, which a watcher
    // on a loaded machine can miss: the kill then comes at the latest just
    // after the deletion, while the next entry reads its 2 MiB.
    {"DeletingAFile",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\old.txt") || !Has(tree, L"data\\old.txt");
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"maps\\coast\\harbour.map", L"after")); }},
    // sky.dat keeps its size, so its CRC is read before anything is written.
    {"ReadingTheInstalledCrc",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\sky.dat") && !Has(tree, L"data\\tmp_uncomp.dat");
     },
     [](const TempTree& tree) {
       EXPECT_FALSE(Has(tree, L"data\\old.txt"));
       EXPECT_TRUE(Is(tree, L"data\\sky.dat", L"before"));
     }},
    {"InflatingAWholeFile",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\sky.dat") && Has(tree, L"data\\new.dat");
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\terrain.dat", L"before")); }},
    {"CopyingAPlainDiff",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\terrain.dat") && Has(tree, L"data\\new.dat") &&
              !Has(tree, L"data\\undiff.dat");
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\sky.dat", L"after")); }},
    {"RebuildingTheLastFile",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\terrain.dat") && Has(tree, L"data\\undiff.dat");
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\sky.dat", L"after")); }},
    // Both version values written (the run waits at its closing box).
    {"AfterTheVersionWasRecorded",
     [](HWND, const TempTree&) {
       return Value(kKey, L"Version") == L"1.01" && Value(kUninstallKey, L"DisplayVersion") == L"1.01";
     },
     [](const TempTree& tree) { EXPECT_TRUE(Is(tree, L"data\\terrain.dat", L"after")); }, true},
    AtOverall("AtAThirdOfTheBytes", 33),
    AtOverall("AtTwoThirdsOfTheBytes", 66),
};

INSTANTIATE_TEST_SUITE_P(InstallPhase, PatchInterrupted, ::testing::ValuesIn(kInterruptions),
                         [](const ::testing::TestParamInfo<Interruption>& info) { return info.param.name; });

// A small disk of its own: a tmpfs of `megabytes` mounted on a new folder
// (the tests run as root), unmounted again when the object goes, whatever
// the test did; `tree` is a folder on it. The mount point itself is a
// reparse point to Windows programs, as a volume mounted in a folder is on
// Windows, and no installation folder may be one.
class SmallDisk {
 public:
  explicit SmallDisk(int megabytes) : unix_root_(UnixPath(mount_point_.root())) {
    mounted_ = !unix_root_.empty() &&
               RunUnix("mount -t tmpfs -o size=" + std::to_string(megabytes) + "m tmpfs " + Quoted(unix_root_));
    if (mounted_) tree_ = std::make_unique<TempTree>(mount_point_.root());
  }
  ~SmallDisk() {
    tree_.reset();
    if (mounted_) RunUnix("umount " + Quoted(unix_root_));
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return tree_ != nullptr; }
  const TempTree& tree() const { return *tree_; }

  // Takes every byte still free, as another program writing would.
  void Fill() {
    HANDLE file = CreateFileW(mount_point_.PathOf(L"filler.bin").c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    static const std::vector<char> chunk(1 << 20, 'f');
    for (DWORD size = 1 << 20; size >= 512; size /= 2) {
      DWORD wrote = 0;
      while (WriteFile(file, chunk.data(), size, &wrote, nullptr) && wrote == size) {
      }
    }
    CloseHandle(file);
  }
  // Gives the space back.
  bool Free() { return DeleteFileW(mount_point_.PathOf(L"filler.bin").c_str()) != FALSE; }

 private:
  TempTree mount_point_;
  std::string unix_root_;
  bool mounted_ = false;
  std::unique_ptr<TempTree> tree_;
};

// Whether `name` is one of the states a run may leave it in: as before, as
// after, or, for an updated file, removed with its verified replacement
// (`replacement`, beside it) holding the new bytes.
bool Allowed(const TempTree& tree, const wchar_t* name, const wchar_t* replacement) {
  if (Is(tree, name, L"before") || Is(tree, name, L"after")) return true;
  if (Has(tree, name) || replacement == nullptr) return false;
  return SameFiles(tree.PathOf(replacement), Fixture(std::wstring(L"after\\") + name));
}

struct FullDisk {
  const char* name;
  Point reached;
};

void PrintTo(const FullDisk& moment, std::ostream* out) { *out << moment.name; }

class PatchOnAFullDisk : public ::testing::TestWithParam<FullDisk> {
 protected:
  void SetUp() override {
    // Room for the installation and the patch's required space, no more.
    ASSERT_TRUE(disk.mounted()) << "cannot mount a tmpfs (the tests run as root)";
    for (const wchar_t* name : kBeforeFiles) {
      std::vector<unsigned char> bytes;
      ASSERT_TRUE(ReadBytes(Fixture(std::wstring(L"before\\") + name), bytes));
      ASSERT_TRUE(disk.tree().Write(name, bytes));
    }
    ASSERT_TRUE(SetMachineText(kKey, L"InstallDir", disk.tree().root()));
    ASSERT_TRUE(SetMachineText(kKey, L"Version", L"1.00"));
    ASSERT_TRUE(SetMachineText(kUninstallKey, L"DisplayVersion", L"1.00"));
  }

  // Runs the patcher and, as soon as `reached` holds, fills the disk and
  // keeps it full until the run ends, as a download going on beside it
  // would: what the run frees is taken again.
  RunRecord RunAndFill(const Point& reached) {
    return RunWatched(disk.tree(), reached, [this](HWND) { disk.Fill(); }, true);
  }

  RegistryKeyGuard registry{kKey};
  SmallDisk disk{28};
};

TEST_P(PatchOnAFullDisk, StopsWithEveryFileWholeAndARunAgainCompletesThePatch) {
  const TempTree& tree = disk.tree();
  const RunRecord full = RunAndFill(GetParam().reached);
  EXPECT_EQ(full.exit_code, 0u);
  ASSERT_EQ(full.boxes.size(), 2u) << ToJsonLines(full);
  EXPECT_EQ(full.boxes[1].text, kDiskError) << ToJsonLines(full);
  // Each file as it was or as its verified new version; a temporary file
  // left behind is a plain file the next run removes before use.
  EXPECT_TRUE(Allowed(tree, L"data\\world.dat", L"data\\undiff.dat"));
  EXPECT_TRUE(Allowed(tree, L"data\\sky.dat", L"data\\new.dat"));
  EXPECT_TRUE(Allowed(tree, L"data\\terrain.dat", L"data\\undiff.dat"));
  EXPECT_TRUE(!Has(tree, L"maps\\coast\\harbour.map") || Is(tree, L"maps\\coast\\harbour.map", L"after"));
  EXPECT_TRUE(!Has(tree, L"data\\old.txt") || Is(tree, L"data\\old.txt", L"before"));
  for (const std::wstring& left : TemporaryFilesBelow(tree.root())) {
    EXPECT_EQ(GetFileAttributesW(left.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  }
  EXPECT_EQ(Value(kKey, L"Version"), L"1.00");
  EXPECT_EQ(Value(kUninstallKey, L"DisplayVersion"), L"1.00");

  ASSERT_TRUE(disk.Free());
  const RunRecord again = RunProgram(WindowsPath(QTR_PROGRAM_E2E_PHASES_BIG), {{kYes, nullptr}});
  EXPECT_EQ(again.exit_code, 0u);
  ASSERT_EQ(again.boxes.size(), 2u) << ToJsonLines(again);
  EXPECT_EQ(again.boxes[1].text, kInstalled) << ToJsonLines(again);
  for (const wchar_t* name : kAfterFiles) {
    EXPECT_TRUE(Is(tree, name, L"after")) << std::string(name, name + wcslen(name));
  }
  EXPECT_FALSE(Has(tree, L"data\\old.txt"));
  const std::vector<std::wstring> temporary = TemporaryFilesBelow(tree.root());
  EXPECT_TRUE(temporary.empty()) << std::string(temporary[0].begin(), temporary[0].end());
  EXPECT_EQ(Value(kKey, L"Version"), L"1.01");
}

const FullDisk kFullDisks[] = {
    // The deflated diff is being unpacked: the rebuild has not begun.
    {"BeforeADiffIsRebuilt",
     [](HWND window, const TempTree& tree) {
       return Current(window, tree, L"data\\world.dat") && Has(tree, L"data\\tmp_uncomp.dat");
     }},
    // The rebuilt world.dat (4 MiB) is a quarter written.
    {"WhileALargeFileIsWritten",
     [](HWND, const TempTree& tree) {
       WIN32_FILE_ATTRIBUTE_DATA data;
       return GetFileAttributesExW(tree.PathOf(L"data\\undiff.dat").c_str(), GetFileExInfoStandard, &data) &&
              data.nFileSizeLow >= (1u << 20);
     }},
    // world.dat is in place, harbour.map begun. (A watcher that read the
    // files to tell would hold them open and stop the run itself.)
    {"BetweenTwoEntries",
     [](HWND window, const TempTree& tree) { return Current(window, tree, L"maps\\coast\\harbour.map"); }},
    // sky.dat's whole new file is being inflated; it may be done before a
    // watcher on a loaded machine sees it, and then the disk fills while
    // the last entry is at work.
    {"WhileAWholeFileIsInflated",
     [](HWND window, const TempTree& tree) {
       return (Current(window, tree, L"data\\sky.dat") && Has(tree, L"data\\new.dat")) ||
              Current(window, tree, L"data\\terrain.dat");
     }},
};

INSTANTIATE_TEST_SUITE_P(InstallPhase, PatchOnAFullDisk, ::testing::ValuesIn(kFullDisks),
                         [](const ::testing::TestParamInfo<FullDisk>& info) { return info.param.name; });

}  // namespace
