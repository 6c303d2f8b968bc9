// Runs killed part-way through the install phase and then run again: the
// second run must finish the patch byte for byte, record the new version and
// leave no temporary file, whichever moment the first run stopped at.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
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

// The current-file line and the overall bar of the patcher's progress window.
std::wstring CurrentFile(HWND window) {
  HWND control = GetDlgItem(window, 302);
  wchar_t text[1024] = {};
  DWORD_PTR result = 0;
  if (control == nullptr || !SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                                                 SMTO_ABORTIFHUNG, 500, &result)) {
    return std::wstring();
  }
  return text;
}

int OverallBar(HWND window) {
  HWND control = GetDlgItem(window, 301);
  DWORD_PTR position = 0;
  if (control == nullptr || !SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 500, &position))
    return 0;
  return static_cast<int>(position);
}

void Kill(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
  if (process == nullptr) return;
  TerminateProcess(process, kKilled);
  CloseHandle(process);
}

// A point of the install phase, judged from the window, the files and the
// registry.
using Point = std::function<bool(HWND window, const TempTree& tree)>;

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
  RunRecord RunAndKill(const Point& reached) {
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
      while (!finished) {
        HWND window = FindWindowW(nullptr, kCaption);
        if (window != nullptr && reached(window, tree)) {
          Kill(window);
          return;
        }
        Sleep(1);
      }
    });
    RunRecord run = RunProgram(WindowsPath(QTR_PROGRAM_E2E_PHASES_BIG), {{kYes, nullptr}});
    finished = true;
    watcher.join();
    return run;
  }

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
  return CurrentFile(window) == tree.PathOf(relative);
}

bool Is(const TempTree& tree, const wchar_t* name, const wchar_t* version) {
  return SameFiles(tree.PathOf(name), Fixture(std::wstring(version) + L"\\" + name));
}

// Kills once the overall bar has reached `percent`: a point that cannot be
// missed, wherever the entries' steps fall.
Interruption AtOverall(const char* name, int percent) {
  return {name, [percent](HWND window, const TempTree&) { return OverallBar(window) >= percent; }, nullptr};
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

}  // namespace
