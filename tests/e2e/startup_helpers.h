#pragma once
// Shared parts of the start-up scenarios: an installation made of registry
// values and a directory, its snapshot before and after a run, the sample
// game in a process of its own and box checks.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/scenario.h"

namespace startup {

constexpr int kOk = 1, kCancel = 2, kRetry = 4, kYes = 6, kNo = 7;

const wchar_t kQtrKey[] = L"SOFTWARE\\Morrow\\QTR";
const wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6D3A1F52-8B0C-4E57-9A21-0C7A5E1D0101}";
const wchar_t kEnglishCaption[] = L"Quarrytide: PATCH 1.00 -> 1.01";

using Buttons = std::vector<std::pair<int, std::wstring>>;

inline std::string BuildDir() {
  // ".../<build>/tests/e2e/e2e_patch_valid.exe" gives ".../<build>".
  std::string path = QTR_PROGRAM_E2E_PATCH_VALID;
  return path.substr(0, path.rfind("/tests/e2e/"));
}

inline std::wstring Patcher() { return WindowsPath(QTR_PROGRAM_E2E_PATCH_VALID); }

// Registry values and an installation directory with one file; every value
// left empty in the constructor's arguments is absent.
class Installation {
 public:
  Installation(const std::wstring& version, const std::wstring& language = L"")
      : qtr_(kQtrKey), uninstall_(kUninstallKey) {
    tree_.Write(L"qtr.exe", {'M', 'Z', 1, 2, 3});
    SetMachineText(kQtrKey, L"InstallDir", tree_.root());
    if (!version.empty()) SetMachineText(kQtrKey, L"Version", version);
    SetMachineText(kUninstallKey, L"DisplayVersion", version.empty() ? L"1.00" : version);
    if (!language.empty()) SetMachineText(kQtrKey, L"Lang", language);
    before_ = Snapshot();
  }
  const TempTree& tree() const { return tree_; }
  // Changes one value of the game's key ("" removes it) before the run.
  void SetValue(const wchar_t* name, const std::wstring& text) {
    if (text.empty()) {
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kQtrKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, name);
        RegCloseKey(key);
      }
    } else {
      SetMachineText(kQtrKey, name, text);
    }
    before_ = Snapshot();
  }

  // Every value and file as it is now: "<absent>" for a missing value, the
  // directory listing with the file's bytes.
  std::vector<std::wstring> Snapshot() const {
    std::vector<std::wstring> state;
    for (const wchar_t* name : {L"InstallDir", L"Version", L"Lang"}) {
      std::wstring text;
      state.push_back(GetMachineText(kQtrKey, name, text) ? text : L"<absent>");
    }
    std::wstring text;
    state.push_back(GetMachineText(kUninstallKey, L"DisplayVersion", text) ? text : L"<absent>");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((tree_.root() + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        state.push_back(found.cFileName);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    std::vector<unsigned char> bytes;
    state.push_back(ReadBytes(tree_.PathOf(L"qtr.exe"), bytes) ? std::wstring(bytes.begin(), bytes.end())
                                                               : L"-");
    return state;
  }
  void ExpectUnchanged() const { EXPECT_EQ(Snapshot(), before_); }

 private:
  RegistryKeyGuard qtr_;
  RegistryKeyGuard uninstall_;
  TempTree tree_;
  std::vector<std::wstring> before_;
};

inline bool MutexExists(const char* name) {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
  if (mutex) CloseHandle(mutex);
  return mutex != nullptr;
}

// The sample game 1.00, running until Quit or the end of the scope.
class SampleGame {
 public:
  SampleGame() {
    std::wstring command =
        L"\"" + WindowsPath(BuildDir() + "/demo/sample_game/qtr_sample_game_1_00.exe") + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process_)) {
      for (int i = 0; i < 500 && !MutexExists("Local\\QTR"); ++i) Sleep(20);
    }
  }
  ~SampleGame() { Quit(); }
  SampleGame(const SampleGame&) = delete;
  SampleGame& operator=(const SampleGame&) = delete;
  bool running() const { return process_.hProcess && MutexExists("Local\\QTR"); }
  void Quit() {
    if (!process_.hProcess) return;
    TerminateProcess(process_.hProcess, 0);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
    process_ = {};
  }

 private:
  PROCESS_INFORMATION process_ = {};
};

inline Buttons ButtonsOf(const BoxRecord& box) {
  Buttons buttons;
  for (const ButtonRecord& button : box.buttons) buttons.emplace_back(button.id, button.label);
  return buttons;
}

// A final box: OK only, topmost, owned by the progress window.
inline void ExpectFinalBox(const BoxRecord& box, const std::wstring& caption, const std::wstring& text,
                           const char* icon, const std::wstring& ok_label,
                           const std::wstring& owner_caption) {
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.icon, icon);
  EXPECT_EQ(ButtonsOf(box), (Buttons{{kOk, ok_label}}));
  EXPECT_TRUE(box.topmost);
  EXPECT_TRUE(box.owned);
  EXPECT_EQ(box.owner_caption, owner_caption);
}

// The start question as the first box of a run, in English.
inline void ExpectStartQuestion(const BoxRecord& box) {
  EXPECT_EQ(box.caption, L"Quarrytide");
  EXPECT_EQ(
      box.text,
      L"WARNING: the installation of the patch is about to begin.\nAre you sure you want to continue ?");
  EXPECT_EQ(box.icon, "warning");
  EXPECT_EQ(ButtonsOf(box), (Buttons{{kYes, L"Yes"}, {kNo, L"No"}}));
  EXPECT_TRUE(box.owned);
  EXPECT_EQ(box.owner_caption, kEnglishCaption);
}

// Exit 0 and no window left: every ordinary ending.
inline void ExpectOrdinaryEnd(const RunRecord& run) {
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_code, 0u) << ToJsonLines(run);
  EXPECT_EQ(run.progress_windows_at_exit, 0);
}

}  // namespace startup
