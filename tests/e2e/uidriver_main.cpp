// uidriver.exe [--answer ID]... [--timeout MS] [--poll MS] [--out FILE]
//              [--shot-status TEXT --shot UNIX_PNG] -- PROGRAM [ARG]...
// Runs PROGRAM under the UI driver, answers its boxes with the given button
// ids in turn (the first button for any further box), prints the records as
// JSON lines (and writes them to FILE) and returns the program's exit code.
// --poll sets how often the windows are read (25 ms unless given).
// With --shot, the first progress state whose status line is TEXT, that
// names a current file and whose current-file bar is at 40% or more is
// photographed: the whole X display, taken by
// ImageMagick's import, which Wine starts as a Unix program.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/e2e/ui_driver.h"

namespace {

int Usage() {
  std::fputs(
      "usage: uidriver.exe [--answer ID]... [--timeout MS] [--poll MS] [--out FILE]"
      " [--shot-status TEXT --shot UNIX_PNG] -- PROGRAM [ARG]...\n",
      stderr);
  return 2;
}

void TakeScreenshot(const std::wstring& png) {
  std::wstring command = L"/usr/bin/import -window root \"" + png + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\import", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return Usage();
  RunOptions options;
  std::wstring out;
  std::wstring shot_status;
  std::wstring shot;
  int i = 1;
  for (; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return Usage();
    if (arg == L"--answer") {
      options.answers.push_back({static_cast<int>(std::wcstol(argv[++i], nullptr, 10)), nullptr});
    } else if (arg == L"--timeout") {
      options.timeout_ms = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (arg == L"--poll") {
      options.poll_ms = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
      if (options.poll_ms == 0) return Usage();
    } else if (arg == L"--out") {
      out = argv[++i];
    } else if (arg == L"--shot-status") {
      shot_status = argv[++i];
    } else if (arg == L"--shot") {
      shot = argv[++i];
    } else {
      return Usage();
    }
  }
  if (i >= argc) return Usage();
  options.program = argv[i];
  for (++i; i < argc; ++i) {
    if (!options.arguments.empty()) options.arguments += L" ";
    options.arguments += L"\"" + std::wstring(argv[i]) + L"\"";
  }
  LocalFree(argv);

  if (!shot.empty()) {
    options.on_progress = [&shot, &shot_status, taken = false](const ProgressRecord& state) mutable {
      // Well into the entry, so that the picture shows the bars moving.
      if (taken || state.status != shot_status || state.current_file.empty() || state.current_bar < 40) return;
      taken = true;
      TakeScreenshot(shot);
    };
  }
  const RunRecord record = RunAndDrive(options);
  const std::string lines = ToJsonLines(record);
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  std::fflush(stdout);
  if (!out.empty() && !WriteAll(out, lines)) {
    std::fputs("uidriver: cannot write the output file\n", stderr);
    return 2;
  }
  if (!record.started) {
    std::fputs("uidriver: cannot start the program\n", stderr);
    return 2;
  }
  return static_cast<int>(record.exit_code);
}
