// Runs killed part-way through the install phase and then run again: the
// second run must finish the patch byte for byte and leave no temporary file.
#include <gtest/gtest.h>
#include <windows.h>

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
const wchar_t* const kFiles[] = {L"data\\world.dat", L"data\\sky.dat"};
const wchar_t* const kTemporaryNames[] = {L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"};

std::wstring Fixture(const std::wstring& relative) {
  return WindowsPath(QTR_PHASES_PATCH_DIR) + L"\\big\\" + relative;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The current-file line of the patcher's progress window.
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

void Kill(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
  if (process == nullptr) return;
  TerminateProcess(process, kKilled);
  CloseHandle(process);
}

// A point of the install phase, judged from the window and the files.
using Point = std::function<bool(HWND window, const TempTree& tree)>;

struct Interruption {
  const char* name;
  Point reached;
  // What the killed run must have left: the entry it was in is unfinished.
  std::function<void(const TempTree& tree)> expect_left;
};

// Test names and failure messages show the point by its name.
void PrintTo(const Interruption& interruption, std::ostream* out) { *out << interruption.name; }

class PatchInterrupted : public ::testing::TestWithParam<Interruption> {
 protected:
  void SetUp() override {
    for (const wchar_t* name : kFiles) {
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
    RunRecord run =
        RunProgram(WindowsPath(QTR_PROGRAM_E2E_PHASES_BIG), {{kYes, nullptr}}, std::wstring(), 120000);
    finished = true;
    watcher.join();
    return run;
  }

  std::vector<std::wstring> TemporaryFiles() const {
    std::vector<std::wstring> found;
    for (const wchar_t* name : kTemporaryNames) {
      if (Exists(tree.PathOf(std::wstring(L"data\\") + name))) found.push_back(name);
    }
    return found;
  }

  RegistryKeyGuard registry{kKey};
  TempTree tree;
};

TEST_P(PatchInterrupted, ARunAgainCompletesThePatch) {
  const RunRecord killed = RunAndKill(GetParam().reached);
  ASSERT_EQ(killed.exit_code, kKilled) << "the run was not interrupted\n" << ToJsonLines(killed);
  GetParam().expect_left(tree);
  std::wstring version;
  ASSERT_TRUE(GetMachineText(kKey, L"Version", version));
  EXPECT_EQ(version, L"1.00");

  const RunRecord again =
      RunProgram(WindowsPath(QTR_PROGRAM_E2E_PHASES_BIG), {{kYes, nullptr}}, std::wstring(), 120000);
  EXPECT_EQ(again.exit_code, 0u);
  ASSERT_EQ(again.boxes.size(), 2u) << ToJsonLines(again);
  EXPECT_EQ(again.boxes[1].caption, L"Success!");
  for (const wchar_t* name : kFiles) {
    EXPECT_TRUE(SameFiles(tree.PathOf(name), Fixture(std::wstring(L"after\\") + name)))
        << std::string(name, name + wcslen(name));
  }
  EXPECT_TRUE(TemporaryFiles().empty());
  ASSERT_TRUE(GetMachineText(kKey, L"Version", version));
  EXPECT_EQ(version, L"1.01");
}

bool Writing(const TempTree& tree, const wchar_t* name) {
  return Exists(tree.PathOf(std::wstring(L"data\\") + name));
}

bool Is(const TempTree& tree, const wchar_t* name, const wchar_t* version) {
  return SameFiles(tree.PathOf(name), Fixture(std::wstring(version) + L"\\" + name));
}

const Interruption kInterruptions[] = {
    // The diff of world.dat is being inflated.
    {"InflatingTheDiff",
     [](HWND, const TempTree& tree) { return Writing(tree, L"tmp_uncomp.dat") && Writing(tree, L"new.dat"); },
     [](const TempTree& tree) {
       EXPECT_TRUE(Writing(tree, L"new.dat"));
       EXPECT_TRUE(Is(tree, L"data\\world.dat", L"before"));
     }},
    // world.dat is being rebuilt.
    {"RebuildingFromTheDiff", [](HWND, const TempTree& tree) { return Writing(tree, L"undiff.dat"); },
     [](const TempTree& tree) {
       EXPECT_TRUE(Writing(tree, L"undiff.dat"));
       EXPECT_TRUE(Is(tree, L"data\\world.dat", L"before"));
     }},
    // world.dat is done and sky.dat has just begun.
    {"BetweenEntries",
     [](HWND window, const TempTree& tree) { return CurrentFile(window) == tree.PathOf(L"data\\sky.dat"); },
     [](const TempTree& tree) {
       EXPECT_TRUE(Is(tree, L"data\\world.dat", L"after"));
       EXPECT_TRUE(Is(tree, L"data\\sky.dat", L"before"));
     }},
    // The whole new sky.dat is being inflated.
    {"InflatingAWholeFile",
     [](HWND window, const TempTree& tree) {
       return CurrentFile(window) == tree.PathOf(L"data\\sky.dat") && Writing(tree, L"new.dat");
     },
     [](const TempTree& tree) {
       EXPECT_TRUE(Writing(tree, L"new.dat"));
       EXPECT_TRUE(Is(tree, L"data\\sky.dat", L"before"));
     }},
};

INSTANTIATE_TEST_SUITE_P(InstallPhase, PatchInterrupted, ::testing::ValuesIn(kInterruptions),
                         [](const ::testing::TestParamInfo<Interruption>& info) { return info.param.name; });

}  // namespace
