// bench_update_costs.exe [ROUNDS]: what the fixed steps of every file entry
// cost on this system, each against a CopyFileW of a 2 KB file measured in
// the same rounds. The steps are the patcher's own functions: the progress
// window (created and shown as the patcher does) and the shell operations
// DeletePath and RenamePath, beside the plain Win32 calls they stand above.
// Every step runs 100 times per round, the rounds interleave the steps, and
// the median round is printed.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "files/file_ops.h"
#include "files/preflight.h"
#include "ui/progress_window.h"
#include "ui/progress_window_win.h"

namespace {

constexpr int kCalls = 100;

// What the buffer steps read back, so that their writes are not left out.
volatile unsigned char sink;

double NowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

WideText Wide(const std::wstring& text) { return WideText(text.begin(), text.end()); }

// Writes a 2 KB file; with `flush`, as the patcher writes a replacement:
// flushed to the disk before its handle is closed.
bool WriteSmallFile(const std::wstring& path, bool flush = false) {
  static const std::string bytes(2048, 'q');
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) != 0;
  if (flush) ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  return ok && wrote == bytes.size();
}

struct Step {
  const char* name;
  std::function<void()> prepare;  // before the timed calls, untimed
  std::function<void(int)> call;  // the timed call, given its index
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"qtr_update_costs\\";
  DeletePath(Wide(dir.substr(0, dir.size() - 1)));
  CreateDirectoryW(dir.c_str(), nullptr);
  auto name = [&](const wchar_t* stem, int i) { return dir + stem + std::to_wstring(i) + L".dat"; };
  auto make_files = [&](const wchar_t* stem) {
    for (int i = 0; i < kCalls; ++i) WriteSmallFile(name(stem, i));
  };
  auto remove_files = [&](const wchar_t* stem) {
    for (int i = 0; i < kCalls; ++i) DeleteFileW(name(stem, i).c_str());
  };

  CreateProgressWindow();
  const ProgressWindow* window = ProgressWindowSlot().load();
  HWND dialog = window->dialog;
  ShowWindow(dialog, SW_SHOWNORMAL);
  SetCurrentFileText(u"C:\\QTR\\data\\zone00\\tiles\\t000.dat");
  Sleep(200);  // the window's first paint is not measured

  std::vector<unsigned char> reused(1 << 20);
  // An updated entry three folders below the installation, as the link
  // checks see it before every entry.
  FilePatch entry;
  entry.kind = Updated;
  entry.base_dir = Wide(dir);
  entry.dir_part = u"data\\zone00\\tiles\\";
  entry.name_part = u"t000.dat";
  CreateDirectoryChain(Wide(dir) + entry.dir_part);
  WriteSmallFile(dir + L"data\\zone00\\tiles\\t000.dat");
  std::vector<Step> steps = {
      {"CopyFileW of a 2 KB file (the baseline)", [&] { make_files(L"src"), remove_files(L"copy"); },
       [&](int i) { CopyFileW(name(L"src", i).c_str(), name(L"copy", i).c_str(), FALSE); }},
      {"send to the window's thread, no-op (WM_NULL)", nullptr,
       [&](int) { SendMessageW(dialog, WM_NULL, 0, 0); }},
      {"SetCurrentProgress, new value (label and bar)", nullptr,
       [&](int i) { SetCurrentProgress(static_cast<float>(i % 2 ? 0.25 : 0.75)); }},
      // Its two halves, sent straight to the controls (other values than the
      // step above, whose record of what shows they leave alone).
      {"  the bar alone (PBM_SETPOS)", nullptr,
       [&](int i) { SendMessageW(window->currentBar, PBM_SETPOS, i % 2 ? 10 : 90, 0); }},
      {"  the percentage alone (WM_SETTEXT)", nullptr,
       [&](int i) { SetWindowTextA(window->currentPercent, i % 2 ? "10%" : "90%"); }},
      {"SetCurrentFileText, new path", nullptr,
       [&](int i) { SetCurrentFileText(Wide(L"C:\\QTR\\data\\zone00\\tiles\\t" + std::to_wstring(i) + L".dat")); }},
      {"Sleep(1)", nullptr, [&](int) { Sleep(1); }},
      {"DeletePath of a 2 KB file (shell)", [&] { make_files(L"del"); },
       [&](int i) { DeletePath(Wide(name(L"del", i))); }},
      {"DeleteFileW of a 2 KB file", [&] { make_files(L"del"); },
       [&](int i) { DeleteFileW(name(L"del", i).c_str()); }},
      {"RenamePath of a 2 KB file (shell)", [&] { remove_files(L"moved"), make_files(L"ren"); },
       [&](int i) { RenamePath(Wide(name(L"ren", i)), Wide(name(L"moved", i))); }},
      {"MoveFileW of a 2 KB file", [&] { remove_files(L"moved"), make_files(L"ren"); },
       [&](int i) { MoveFileW(name(L"ren", i).c_str(), name(L"moved", i).c_str()); }},
      {"PathExists of an absent name", nullptr, [&](int i) { PathExists(Wide(name(L"absent", i))); }},
      {"write a new 2 KB file", [&] { remove_files(L"new"); }, [&](int i) { WriteSmallFile(name(L"new", i)); }},
      {"  the same, flushed to the disk before closing", [&] { remove_files(L"new"); },
       [&](int i) { WriteSmallFile(name(L"new", i), true); }},
      {"EntryAvoidsLinks, 3 folders deep", nullptr, [&](int) { sink = EntryAvoidsLinks(entry); }},
      {"new 1 MiB buffer, filled, freed", nullptr,
       [&](int i) {
         std::unique_ptr<unsigned char[]> block(new unsigned char[1 << 20]);
         std::memset(block.get(), i, 1 << 20);
         sink = block[i];
       }},
      {"reused 1 MiB buffer, filled", nullptr,
       [&](int i) {
         std::memset(reused.data(), i, reused.size());
         sink = reused[i];
       }},
  };
  // ms per call, one figure per round, for each step
  std::vector<std::vector<double>> figures(steps.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t s = 0; s < steps.size(); ++s) {
      if (steps[s].prepare) steps[s].prepare();
      const double start = NowMs();
      for (int i = 0; i < kCalls; ++i) steps[s].call(i);
      figures[s].push_back((NowMs() - start) / kCalls);
    }
  }
  CloseProgressWindow();
  DeletePath(Wide(dir.substr(0, dir.size() - 1)));

  const double copy = Median(figures[0]);
  std::printf("%-48s %10s %14s\n", "step (median of the rounds)", "ms per call", "/ CopyFileW");
  for (size_t s = 0; s < steps.size(); ++s) {
    const double ms = Median(figures[s]);
    std::printf("%-48s %10.3f %13.2fx\n", steps[s].name, ms, ms / copy);
  }
  return 0;
}
