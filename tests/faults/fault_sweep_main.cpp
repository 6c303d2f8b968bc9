// The fault sweep. Runs the fault harness (the patcher's objects and the
// scenario patch's resources, fault_harness_win.cpp) on an installation of
// the scenario's edition "a": once without faults, counting its calls; then
// once for every call and every fault that call can meet on a real machine,
// and once for every allocation of the install phase failing. After each
// run it checks what the run left, then runs the patch again without faults
// and checks that the second run finishes it.
//
//   qtr_fault_sweep --full|--sample HARNESS PATCH_DIR OUT_DIR
//   qtr_fault_sweep --defect HARNESS PATCH_DIR OUT_DIR
// PATCH_DIR holds trees/a/old and trees/a/new (fault_patch of the build);
// OUT_DIR gets the rows (rows.txt), the table (table.txt) and the harness's
// report of every row that failed. --sample runs the rows CTest runs: every
// call kind, spread over the run. --defect takes a harness whose patcher has
// a deliberate defect and succeeds only when the sweep finds the rows where
// it loses a file. Exit code 0 when every row survived (--defect: when the
// defect was seen), 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "files/file_ops.h"
#include "files/win_text_win.h"
#include "tests/e2e/scenario.h"
#include "tests/faults/fault_plan.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\QtrFaults";
const wchar_t kUninstallKey[] = L"SOFTWARE\\QtrFaults\\Uninstall";
const std::wstring kTemporaryNames[] = {L"new.dat", L"undiff.dat", L"tmp_uncomp.dat"};
// What the installation holds beyond its files, as real ones do.
const wchar_t* const kReadOnly[] = {L"qtr.exe", L"data\\old.txt"};
const wchar_t kStale[] = L"data\\new.dat";
constexpr DWORD kRunTimeoutMs = 60000;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::wstring Wide(const std::string& text) {
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(count > 0 ? count : 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], count);
  out.resize(wcslen(out.c_str()));
  return out;
}

bool IsTemporaryName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  return std::find(std::begin(kTemporaryNames), std::end(kTemporaryNames), name) != std::end(kTemporaryNames);
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// ---- Trees: every file below a folder with its bytes, and every folder.

struct Listing {
  std::map<std::wstring, std::vector<unsigned char>> files;  // path below the root -> bytes
  std::set<std::wstring> folders;
};

// Below `root`, leaving out the folder `skip` (a path below it).
void ReadTree(const std::wstring& root, const std::wstring& relative, const std::wstring& skip, Listing& listing) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((root + (relative.empty() ? L"" : L"\\" + relative) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (path == skip) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      listing.folders.insert(path);
      ReadTree(root, path, skip, listing);
    } else {
      ReadBytes(root + L"\\" + path, listing.files[path]);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

Listing ReadTree(const std::wstring& root, const std::wstring& skip = std::wstring()) {
  Listing listing;
  ReadTree(root, std::wstring(), skip, listing);
  return listing;
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(dir.c_str());
}

// ---- The harness's report.

struct Call {
  unsigned index = 0;
  std::string kind;
  std::string argument;  // bytes asked for, "create"/"open", "delete"/"rename", or "-"
  std::wstring path;     // the file, folder, key or value the call works on
};

struct Box {
  std::string caption, text;  // string ids, or "internal"
};

struct Run {
  bool started = false;
  bool timed_out = false;
  unsigned long exit_code = 0;
  std::vector<Call> calls;
  std::vector<Box> boxes;
  unsigned allocations = 0;
  std::vector<unsigned> alloc_after;  // for each allocation, the number of calls before it
  std::string fault_seen;             // "fault ..." line, when the planned fault was met
  std::vector<std::string> unhooked, elsewhere;
  std::vector<BoxRecord> windows;  // the boxes as real windows, when shown
  std::string report;
};

void ParseReport(Run& run) {
  size_t start = 0;
  while (start < run.report.size()) {
    size_t end = run.report.find('\n', start);
    if (end == std::string::npos) end = run.report.size();
    const std::string line = run.report.substr(start, end - start);
    start = end + 1;
    char word[64] = {}, second[64] = {}, third[64] = {};
    unsigned number = 0;
    if (line.compare(0, 5, "call ") == 0) {
      int used = 0;
      Call call;
      if (sscanf(line.c_str(), "call %u %63s %63s %n", &call.index, word, second, &used) >= 3) {
        call.kind = word;
        call.argument = second;
        call.path = Wide(line.substr(static_cast<size_t>(used)));
        run.calls.push_back(call);
      }
    } else if (sscanf(line.c_str(), "box %63s %63s", word, second) == 2) {
      run.boxes.push_back({word, second});
    } else if (sscanf(line.c_str(), "alloc %u", &number) == 1) {
      run.allocations = number;
      run.alloc_after.push_back(static_cast<unsigned>(run.calls.size()));
    } else if (line.compare(0, 6, "fault ") == 0) {
      run.fault_seen = line;
    } else if (sscanf(line.c_str(), "hooked %63s %u", third, &number) == 2) {
      const std::string name = third;
      if (number == 0 && name != "calloc" && name != "realloc") run.unhooked.push_back(name);
    } else if (sscanf(line.c_str(), "elsewhere %63s", word) == 1) {
      run.elsewhere.push_back(word);
    }
  }
}

// ---- One run of the harness.

struct Order {
  unsigned call = 0;  // 0: no call fails
  std::string fault;
  unsigned alloc = 0;  // 0: no allocation fails
  bool real_boxes = false;
};

void SetVariable(const wchar_t* name, const std::string& value) {
  SetEnvironmentVariableW(name, value.empty() ? nullptr : Wide(value).c_str());
}

Run RunHarness(const std::wstring& harness, const std::wstring& report, const Order& order) {
  DeleteFileW(report.c_str());
  SetVariable(QTR_FAULT_REPORT, Narrow(report));
  SetVariable(QTR_FAULT_CALL, order.call ? std::to_string(order.call) + " " + order.fault : std::string());
  SetVariable(QTR_FAULT_ALLOC, order.alloc ? std::to_string(order.alloc) : std::string());
  SetVariable(QTR_FAULT_BOXES, order.real_boxes ? "real" : "");
  Run run;
  if (order.real_boxes) {
    // The start question Yes; the closing box its OK.
    const RunRecord record = RunProgram(harness, {{IDYES, nullptr}}, std::wstring(), kRunTimeoutMs);
    run.started = record.started;
    run.timed_out = record.timed_out;
    run.exit_code = record.exit_code;
    run.windows = record.boxes;
  } else {
    std::wstring line = L"\"" + harness + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    run.started = CreateProcessW(harness.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process) != FALSE;
    if (run.started) {
      if (WaitForSingleObject(process.hProcess, kRunTimeoutMs) != WAIT_OBJECT_0) {
        run.timed_out = true;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
      }
      GetExitCodeProcess(process.hProcess, &run.exit_code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  std::vector<unsigned char> bytes;
  ReadBytes(report, bytes);
  run.report.assign(bytes.begin(), bytes.end());
  ParseReport(run);
  return run;
}

// How a run ended: the string id of its closing box, "internal" for the
// internal-error ending, "power cut", or what went wrong.
std::string Outcome(const Run& run) {
  if (!run.started) return "not started";
  if (run.timed_out) return "hung";
  if (run.exit_code == kPowerCutExit) return "power cut";
  if (run.boxes.empty()) return "no box, exit " + std::to_string(run.exit_code);
  const Box& last = run.boxes.back();
  const unsigned long expected_exit = last.text == "internal" ? kInternalErrorExit : 0;
  if (run.exit_code != expected_exit) return last.text + " with exit " + std::to_string(run.exit_code);
  return last.text;
}

// ---- The scenario: its installation and what may be found in it.

class Scenario {
 public:
  Scenario(const std::wstring& patch_dir, const std::wstring& harness, const std::wstring& out_dir)
      : harness_(harness), report_(out_dir + L"\\report.txt"), old_root_(patch_dir + L"\\trees\\a\\old") {
    old_ = ReadTree(old_root_);
    new_ = ReadTree(patch_dir + L"\\trees\\a\\new");
    root_ = sandbox_.PathOf(L"game");
    // Beside the installation: what must never change.
    sandbox_.Write(L"beside.txt", {'n', 'o', 't', ' ', 'o', 'u', 'r', 's'});
    sandbox_.Write(L"outside\\save.dat", std::vector<unsigned char>(5000, 's'));
    outside_ = Outside();
  }

  // The installation as a player's machine holds it before the patch.
  bool Reset() {
    RemoveTree(root_);
    CreateDirectoryW(root_.c_str(), nullptr);
    for (const std::wstring& folder : old_.folders) CreateDirectoryW((root_ + L"\\" + folder).c_str(), nullptr);
    for (const auto& file : old_.files) {
      if (!CopyFileW((old_root_ + L"\\" + file.first).c_str(), (root_ + L"\\" + file.first).c_str(), FALSE))
        return false;
    }
    for (const wchar_t* name : kReadOnly) SetFileAttributesW((root_ + L"\\" + name).c_str(), FILE_ATTRIBUTE_READONLY);
    // A temporary file an interrupted run of some earlier patch left behind.
    const std::string stale = "left by an interrupted run";
    if (!sandbox_.Write(L"game\\" + std::wstring(kStale), std::vector<unsigned char>(stale.begin(), stale.end())))
      return false;
    return SetMachineText(kKey, L"InstallDir", root_) && SetMachineText(kKey, L"Version", L"1.00") &&
           SetMachineText(kKey, L"Lang", L"0x409") && SetMachineText(kUninstallKey, L"DisplayVersion", L"1.00");
  }

  Run RunOnce(const Order& order) const { return RunHarness(harness_, report_, order); }

  // A run's paths below the sandbox, for the rows.
  std::wstring Relative(const std::wstring& path) const {
    const std::wstring base = sandbox_.root() + L"\\";
    if (path.size() >= base.size() && CompareStringOrdinal(path.c_str(), static_cast<int>(base.size()), base.c_str(),
                                                           static_cast<int>(base.size()), TRUE) == CSTR_EQUAL)
      return path.substr(base.size());
    return path;
  }

  // What is wrong with the installation a stopped run left (`outcome` as
  // Outcome gives it); empty when nothing is.
  std::vector<std::string> CheckStopped(const std::string& outcome, bool allocation) const {
    std::vector<std::string> problems;
    const Listing now = ReadTree(root_);
    const bool exact = IsNewTree(now);
    const std::wstring version = Value(kKey, L"Version"), version2 = Value(kUninstallKey, L"DisplayVersion");
    static const std::set<std::string> ordinary = {"210", "214", "215", "216", "power cut"};
    // Start-up refusals that come before anything is written.
    static const std::set<std::string> refusals = {"207", "208"};
    if (allocation ? outcome != "internal" : ordinary.count(outcome) == 0 && refusals.count(outcome) == 0)
      problems.push_back("ended with " + outcome);
    if (outcome == "216" && (!exact || HasTemporaryFiles(now)))
      problems.push_back("box 216 without the new tree exactly");
    if (outcome == "216" && (version != L"1.01" || version2 != L"1.01"))
      problems.push_back("box 216 without 1.01 recorded");
    if (refusals.count(outcome) != 0 && !IsOldInstallation(now)) problems.push_back("refused, but changed files");
    if (outcome != "216") {
      // A run stopped after it recorded the new version (a power cut, an
      // allocation that failed) has nothing left to do.
      if (version != L"1.00" && !(exact && version == L"1.01" && (outcome == "power cut" || outcome == "internal")))
        problems.push_back("version " + Narrow(version) + " recorded");
      if (version2 != L"1.00" && !(exact && version2 == L"1.01"))
        problems.push_back("uninstall version " + Narrow(version2) + " recorded");
    }
    CheckFiles(now, problems);
    CheckOutside(problems);
    return problems;
  }

  // What is wrong after the run again without faults, which must finish the
  // patch; `recorded` when the stopped run had recorded the new version.
  std::vector<std::string> CheckRerun(const std::string& outcome, bool recorded) const {
    std::vector<std::string> problems;
    const Listing now = ReadTree(root_);
    const std::string expected = recorded ? "211" : "216";
    if (outcome != expected) problems.push_back("rerun ended with " + outcome + ", not " + expected);
    if (!IsNewTree(now)) problems.push_back("rerun: not the new tree");
    if (HasTemporaryFiles(now)) problems.push_back("rerun: temporary file left");
    for (const std::wstring& folder : now.folders) {
      if (!new_.folders.count(folder) && !old_.folders.count(folder))
        problems.push_back("rerun: folder " + Narrow(folder));
    }
    if (Value(kKey, L"Version") != L"1.01" || Value(kUninstallKey, L"DisplayVersion") != L"1.01")
      problems.push_back("rerun: 1.01 not recorded");
    CheckOutside(problems);
    return problems;
  }

  bool Recorded() const { return Value(kKey, L"Version") == L"1.01"; }
  bool IsNewTree() const { return IsNewTree(ReadTree(root_)); }

 private:
  static std::wstring Value(const wchar_t* key, const wchar_t* name) {
    std::wstring text;
    return GetMachineText(key, name, text) ? text : L"<absent>";
  }

  static bool HasTemporaryFiles(const Listing& now) {
    for (const auto& file : now.files) {
      if (IsTemporaryName(file.first)) return true;
    }
    return false;
  }

  // Every file of the new tree with its bytes and nothing else but
  // temporary files.
  bool IsNewTree(const Listing& now) const {
    size_t others = 0;
    for (const auto& file : now.files) {
      const auto expected = new_.files.find(file.first);
      if (expected == new_.files.end()) {
        if (!IsTemporaryName(file.first)) return false;
        ++others;
      } else if (expected->second != file.second) {
        return false;
      }
    }
    return now.files.size() - others == new_.files.size();
  }

  // The old files unchanged, the stale temporary file too.
  bool IsOldInstallation(const Listing& now) const {
    if (now.files.size() != old_.files.size() + 1 || now.folders != old_.folders) return false;
    for (const auto& file : old_.files) {
      const auto found = now.files.find(file.first);
      if (found == now.files.end() || found->second != file.second) return false;
    }
    return now.files.count(kStale) == 1;
  }

  // Each file as it was or as its new version; an updated file missing only
  // with its new version beside it under a temporary name; nothing else but
  // temporary files and the folders of the new files.
  void CheckFiles(const Listing& now, std::vector<std::string>& problems) const {
    std::set<std::wstring> paths;
    for (const auto& file : old_.files) paths.insert(file.first);
    for (const auto& file : new_.files) paths.insert(file.first);
    for (const std::wstring& path : paths) {
      const auto before = old_.files.find(path), after = new_.files.find(path), found = now.files.find(path);
      const bool is_old = before != old_.files.end() && found != now.files.end() && found->second == before->second;
      const bool is_new = after != new_.files.end() && found != now.files.end() && found->second == after->second;
      if (is_old || is_new) continue;
      if (found != now.files.end()) {
        problems.push_back("wrong bytes: " + Narrow(path));
        continue;
      }
      if (before == old_.files.end() || after == new_.files.end()) continue;  // added or deleted: may be absent
      bool replaced = false;
      for (const wchar_t* name : {L"undiff.dat", L"new.dat"}) {
        const auto beside = now.files.find(FolderOf(path) + name);
        replaced = replaced || (beside != now.files.end() && beside->second == after->second);
      }
      if (!replaced) problems.push_back("lost: " + Narrow(path) + " is gone without its new version beside it");
    }
    for (const auto& file : now.files) {
      if (!paths.count(file.first) && !IsTemporaryName(file.first))
        problems.push_back("unexpected file " + Narrow(file.first));
    }
    for (const std::wstring& folder : now.folders) {
      if (!new_.folders.count(folder) && !old_.folders.count(folder))
        problems.push_back("unexpected folder " + Narrow(folder));
    }
  }

  Listing Outside() const { return ReadTree(sandbox_.root(), L"game"); }

  void CheckOutside(std::vector<std::string>& problems) const {
    const Listing now = Outside();
    if (now.files != outside_.files || now.folders != outside_.folders)
      problems.push_back("changed something outside the installation");
  }

  std::wstring harness_, report_, old_root_, root_;
  Listing old_, new_;
  TempTree sandbox_;
  Listing outside_;
};

// ---- Rows: which faults each call can meet.

std::vector<std::string> FaultsOf(const Call& call) {
  const std::string& kind = call.kind;
  const bool has_bytes = call.argument != "-" && std::strtoul(call.argument.c_str(), nullptr, 10) > 1;
  std::vector<std::string> faults;
  if (kind == "CreateFileW") {
    faults = {"access_denied", "sharing_violation"};
    if (call.argument == "create") faults.push_back("disk_full");
  } else if (kind == "ReadFile") {
    faults = {"sharing_violation", "io_error"};
    if (has_bytes) faults.push_back("short");
  } else if (kind == "WriteFile") {
    faults = {"disk_full", "sharing_violation", "io_error"};
    if (has_bytes) faults.push_back("short");
  } else if (kind == "SetFilePointer" || kind == "GetFileSizeEx") {
    faults = {"io_error"};
  } else if (kind == "FlushFileBuffers") {
    faults = {"disk_full", "io_error"};
  } else if (kind == "CreateDirectoryW") {
    faults = {"disk_full", "access_denied"};
  } else if (kind == "GetFileAttributesW" || kind == "SetFileAttributesW" || kind == "SHFileOperationW") {
    faults = {"access_denied", "sharing_violation"};
  } else if (kind == "PathFileExistsW" || kind == "GetDiskFreeSpaceExW" || kind == "RegOpenKeyExA" ||
             kind == "RegOpenKeyExW" || kind == "RegQueryValueExA" || kind == "RegQueryValueExW") {
    faults = {"access_denied"};
  } else if (kind == "RegSetValueExA") {
    faults = {"access_denied", "disk_full"};
  }
  // CloseHandle and RegCloseKey: only a power cut.
  faults.push_back("power_cut");
  return faults;
}

struct Row {
  Order order;
  Call call;  // the call that fails (none for an allocation)
};

struct Result {
  Row row;
  std::string outcome, rerun;
  std::vector<std::string> problems;
};

std::string Describe(const Scenario& scenario, const Row& row) {
  if (row.order.alloc) return "allocation " + std::to_string(row.order.alloc) + " of the install phase";
  return "call " + std::to_string(row.call.index) + " " + row.call.kind + " " + row.call.argument + " " +
         Narrow(scenario.Relative(row.call.path)) + ": " + row.order.fault;
}

void Write(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD wrote = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
  CloseHandle(file);
}

// Where a row's time goes, in milliseconds summed over the rows.
struct Spent {
  DWORD making = 0, running = 0, checking = 0;
} spent;

Result RunRow(Scenario& scenario, const Row& row, const std::wstring& out_dir) {
  Result result{row, "", "", {}};
  DWORD mark = GetTickCount();
  auto lap = [&mark](DWORD& total) {
    const DWORD now = GetTickCount();
    total += now - mark;
    mark = now;
  };
  if (!scenario.Reset()) {
    result.problems.push_back("cannot make the installation");
    return result;
  }
  lap(spent.making);
  const Run stopped = scenario.RunOnce(row.order);
  lap(spent.running);
  result.outcome = Outcome(stopped);
  if (stopped.fault_seen.empty()) result.problems.push_back("the planned fault was never met");
  if (!row.order.alloc && stopped.calls.size() >= row.call.index &&
      stopped.calls[row.call.index - 1].kind != row.call.kind)
    result.problems.push_back("call " + std::to_string(row.call.index) + " was " +
                              stopped.calls[row.call.index - 1].kind + " in this run");
  for (const std::string& problem : scenario.CheckStopped(result.outcome, row.order.alloc != 0))
    result.problems.push_back(problem);
  const bool recorded = scenario.Recorded();
  lap(spent.checking);
  const Run again = scenario.RunOnce(Order());
  lap(spent.running);
  result.rerun = Outcome(again);
  for (const std::string& problem : scenario.CheckRerun(result.rerun, recorded)) result.problems.push_back(problem);
  lap(spent.checking);
  if (!result.problems.empty()) {
    // The failing run's report, for whoever mends the fault.
    std::string name = row.order.alloc ? "alloc-" + std::to_string(row.order.alloc)
                                       : "call-" + std::to_string(row.call.index) + "-" + row.order.fault;
    Write(out_dir + L"\\failed-" + Wide(name) + L".txt", stopped.report);
  }
  return result;
}

// ---- The string of a box, from the harness's own string tables.

std::wstring StringOf(HMODULE module, int id) {
  HRSRC block = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (block == nullptr) return std::wstring();
  const auto* units = static_cast<const wchar_t*>(LockResource(LoadResource(module, block)));
  const DWORD length = SizeofResource(module, block) / 2;
  DWORD pos = 0;
  for (int index = 0; index < id % 16 && pos < length; ++index) pos += 1 + units[pos];
  if (pos >= length) return std::wstring();
  return std::wstring(units + pos + 1, units[pos]);
}

// The boxes the patcher showed as real windows, read by the UI driver,
// against the string ids the harness named for them: each text must be the
// English string of its id.
std::vector<std::string> CheckWindows(const std::wstring& harness, const Run& run) {
  std::vector<std::string> problems;
  HMODULE module = LoadLibraryExW(harness.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (run.windows.size() != run.boxes.size()) problems.push_back("boxes shown and boxes named differ in number");
  for (size_t i = 0; i < run.windows.size() && i < run.boxes.size(); ++i) {
    const Box& box = run.boxes[i];
    const std::wstring text =
        box.text == "internal" ? L"An internal error has occured." : StringOf(module, std::atoi(box.text.c_str()));
    if (text.empty() || run.windows[i].text != text)
      problems.push_back("box " + std::to_string(i + 1) + " named " + box.text + " shows \"" +
                         Narrow(run.windows[i].text) + "\"");
  }
  if (module != nullptr) FreeLibrary(module);
  return problems;
}

// ---- Choosing the rows.

std::vector<Row> AllRows(const std::vector<Call>& calls, unsigned allocations) {
  std::vector<Row> rows;
  for (const Call& call : calls) {
    for (const std::string& fault : FaultsOf(call)) rows.push_back({{call.index, fault, 0, false}, call});
  }
  for (unsigned alloc = 1; alloc <= allocations; ++alloc) rows.push_back({{0, "", alloc, false}, Call()});
  return rows;
}

// Rows where the sweep found a fault, each named by its call (its index
// moves whenever the run's calls change): mended, they stay in the sample
// as the faults' tests.
struct Mended {
  const char* kind;
  const wchar_t* path;  // below the sandbox, or a registry value's name
  bool last;            // the last such call of the run, else the first
  const char* fault;    // nullptr: the allocation right after that call fails
};
const Mended kMended[] = {
    // The key file unreadable: its edition's group was left out, box 216.
    {"CreateFileW", L"game\\qtr.exe", false, "sharing_violation"},
    {"GetFileSizeEx", L"game\\qtr.exe", false, "io_error"},
    {"ReadFile", L"game\\qtr.exe", false, "io_error"},
    // The deleted file's existence could not be told: left in place, box 216.
    {"GetFileAttributesW", L"game\\data\\old.txt", true, "access_denied"},
    {"PathFileExistsW", L"game\\data\\old.txt", true, "access_denied"},
    // A temporary file that could not be removed after use stayed for good.
    {"SHFileOperationW", L"game\\maps\\coast\\tmp_uncomp.dat", false, "sharing_violation"},
    {"SHFileOperationW", L"game\\data\\tmp_uncomp.dat", true, "access_denied"},
    {"SHFileOperationW", L"game\\new.dat", true, "sharing_violation"},
    // The version not read or not written, box 216 all the same; a run
    // stopped between the two values, the uninstall entry's never written.
    {"RegQueryValueExA", L"Version", true, "access_denied"},
    {"RegSetValueExA", L"Version", false, "disk_full"},
    {"RegSetValueExA", L"DisplayVersion", false, "access_denied"},
    {"RegSetValueExA", L"DisplayVersion", false, "power_cut"},
    {"RegSetValueExA", L"Version", false, "power_cut"},
    {"RegSetValueExA", L"Version", false, nullptr},
    // zlib's state and window not had: box 215 instead of the internal error.
    {"CreateFileW", L"game\\maps\\coast\\new.dat", false, nullptr},
    {"ReadFile", L"game\\maps\\coast\\tmp_uncomp.dat", false, nullptr},
};

std::vector<Row> MendedRows(const Scenario& scenario, const Run& clean) {
  std::vector<Row> rows;
  for (const Mended& mended : kMended) {
    const Call* found = nullptr;
    for (const Call& call : clean.calls) {
      if (call.kind == mended.kind && scenario.Relative(call.path) == mended.path && (mended.last || !found))
        found = &call;
    }
    if (found == nullptr) continue;
    if (mended.fault != nullptr) {
      rows.push_back({{found->index, mended.fault, 0, false}, *found});
      continue;
    }
    const auto next = std::find_if(clean.alloc_after.begin(), clean.alloc_after.end(),
                                   [&](unsigned after) { return after >= found->index; });
    if (next != clean.alloc_after.end())
      rows.push_back({{0, "", static_cast<unsigned>(next - clean.alloc_after.begin()) + 1, false}, Call()});
  }
  return rows;
}

// Every fault each kind of call can meet, spread over that kind's calls in
// the run; a power cut at each third of the run; allocations at the middle
// of each third of the install phase; the rows of faults that were mended.
std::vector<Row> SampleRows(const Scenario& scenario, const Run& clean) {
  std::map<std::string, std::vector<const Call*>> by_kind;
  for (const Call& call : clean.calls) by_kind[call.kind].push_back(&call);
  std::vector<Row> rows = MendedRows(scenario, clean);
  std::set<std::pair<unsigned, std::string>> chosen;
  for (const Row& row : rows) chosen.insert({row.order.call, row.order.fault});
  auto add = [&](const Call& call, const std::string& fault) {
    if (chosen.insert({call.index, fault}).second) rows.push_back({{call.index, fault, 0, false}, call});
  };
  for (const auto& kind : by_kind) {
    const std::vector<const Call*>& list = kind.second;
    std::vector<std::string> faults;
    for (const Call* call : list) {
      for (const std::string& fault : FaultsOf(*call)) {
        if (std::find(faults.begin(), faults.end(), fault) == faults.end()) faults.push_back(fault);
      }
    }
    // The i-th fault at the i-th of as many places evenly apart, or at the
    // nearest call after it that can meet it (a short read needs more than
    // one byte asked for, a disk full a file being made), else before it.
    for (size_t i = 0; i < faults.size(); ++i) {
      const size_t place = faults.size() > 1 ? i * (list.size() - 1) / (faults.size() - 1) : 0;
      std::vector<size_t> order;
      for (size_t at = place; at < list.size(); ++at) order.push_back(at);
      for (size_t at = place; at-- > 0;) order.push_back(at);
      for (size_t at : order) {
        const std::vector<std::string> possible = FaultsOf(*list[at]);
        if (std::find(possible.begin(), possible.end(), faults[i]) != possible.end()) {
          add(*list[at], faults[i]);
          break;
        }
      }
    }
  }
  const size_t count = clean.calls.size();
  for (size_t third = 1; third < 3; ++third) add(clean.calls[third * count / 3], "power_cut");
  for (unsigned third = 0; third < 3; ++third) {
    const unsigned alloc = clean.allocations * (2 * third + 1) / 6 + 1;
    if (std::none_of(rows.begin(), rows.end(), [alloc](const Row& row) { return row.order.alloc == alloc; }))
      rows.push_back({{0, "", alloc, false}, Call()});
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return a.order.alloc != b.order.alloc ? a.order.alloc < b.order.alloc : a.order.call < b.order.call;
  });
  return rows;
}

// The rows where a defect in replacing a target shows: a power cut at each
// write of a payload of the data folder, whole files and diffs, beside its
// target.
std::vector<Row> DefectRows(const Scenario& scenario, const std::vector<Call>& calls) {
  std::vector<Row> rows;
  for (const Call& call : calls) {
    const std::wstring path = scenario.Relative(call.path);
    if (call.kind == "WriteFile" && (path == L"game\\data\\new.dat" || path == L"game\\data\\tmp_uncomp.dat"))
      rows.push_back({{call.index, "power_cut", 0, false}, call});
  }
  return rows;
}

// ---- The table.

struct Tally {
  unsigned calls = 0, faults = 0, reruns = 0, failed = 0;
  std::map<std::string, unsigned> outcomes;
};

std::string Table(const std::vector<Call>& calls, unsigned allocations, const std::vector<Result>& results) {
  static const char* const columns[] = {"210", "214", "215", "216", "207", "208", "power cut", "internal"};
  std::map<std::string, Tally> by_kind;
  for (const Call& call : calls) ++by_kind[call.kind].calls;
  Tally total, alloc_tally;
  alloc_tally.calls = allocations;
  for (const Result& result : results) {
    Tally& tally = result.row.order.alloc ? alloc_tally : by_kind[result.row.call.kind];
    for (Tally* t : {&tally, &total}) {
      ++t->faults;
      ++t->outcomes[result.outcome];
      if (result.rerun == "216" || result.rerun == "211") ++t->reruns;
      if (!result.problems.empty()) ++t->failed;
    }
  }
  std::string text;
  char line[512];
  snprintf(line, sizeof line, "%-20s %6s %7s", "call", "calls", "faults");
  text += line;
  for (const char* column : columns) {
    snprintf(line, sizeof line, " %9s", column);
    text += line;
  }
  text += "  reruns finished  failed\n";
  auto add = [&](const std::string& name, const Tally& tally) {
    snprintf(line, sizeof line, "%-20s %6u %7u", name.c_str(), tally.calls, tally.faults);
    text += line;
    for (const char* column : columns) {
      const auto found = tally.outcomes.find(column);
      snprintf(line, sizeof line, " %9u", found == tally.outcomes.end() ? 0u : found->second);
      text += line;
    }
    snprintf(line, sizeof line, "  %15u  %6u\n", tally.reruns, tally.failed);
    text += line;
  };
  for (const auto& kind : by_kind) add(kind.first, kind.second);
  add("allocations", alloc_tally);
  total.calls = static_cast<unsigned>(calls.size()) + allocations;
  add("all", total);
  for (const auto& outcome : total.outcomes) {
    if (std::find_if(std::begin(columns), std::end(columns), [&](const char* c) { return outcome.first == c; }) ==
        std::end(columns))
      text += "  also ended with \"" + outcome.first + "\": " + std::to_string(outcome.second) + "\n";
  }
  return text;
}

int Usage() {
  fprintf(stderr, "usage: qtr_fault_sweep --full|--sample|--defect HARNESS PATCH_DIR OUT_DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return Usage();
  const std::string mode = argv[1];
  if (mode != "--full" && mode != "--sample" && mode != "--defect") return Usage();
  const std::wstring harness = WindowsPath(argv[2]), patch_dir = WindowsPath(argv[3]), out_dir = WindowsPath(argv[4]);
  CreateDirectoryChain(FromWinText(out_dir.c_str()) + u"\\");
  setvbuf(stdout, nullptr, _IONBF, 0);
  const RegistryKeyGuard registry(kKey);
  Scenario scenario(patch_dir, harness, out_dir);
  const DWORD started = GetTickCount();

  // The clean run: its calls and allocations are the rows.
  if (!scenario.Reset()) {
    printf("cannot make the installation\n");
    return 1;
  }
  const Run clean = scenario.RunOnce(Order());
  const std::string clean_outcome = Outcome(clean);
  if (clean_outcome != "216" || !scenario.IsNewTree() || !clean.unhooked.empty() || !clean.elsewhere.empty()) {
    printf("the run without faults failed: %s%s%s\n%s", clean_outcome.c_str(),
           clean.unhooked.empty() ? "" : ", a call the harness cannot see: ",
           clean.unhooked.empty() ? "" : clean.unhooked[0].c_str(), clean.report.c_str());
    return 1;
  }
  Write(out_dir + L"\\clean.txt", clean.report);
  printf("run without faults: %zu calls, %u allocations in the install phase, box 216\n", clean.calls.size(),
         clean.allocations);

  // The boxes' ids are read from the texts the patcher passed: once with the
  // boxes as real windows, the texts the UI driver reads must be those ids'.
  if (mode == "--sample") {
    scenario.Reset();
    const Run shown = scenario.RunOnce({0, "", 0, true});
    const std::vector<std::string> problems = CheckWindows(harness, shown);
    if (Outcome(shown) != "216" || !problems.empty()) {
      printf("the boxes as windows differ: %s %s\n", Outcome(shown).c_str(),
             problems.empty() ? "" : problems[0].c_str());
      return 1;
    }
  }

  const std::vector<Row> rows = mode == "--full"     ? AllRows(clean.calls, clean.allocations)
                                : mode == "--sample" ? SampleRows(scenario, clean)
                                                     : DefectRows(scenario, clean.calls);
  std::vector<Result> results;
  std::string listing;
  std::set<std::string> windows_checked;
  unsigned failed = 0, lost = 0;
  printf("%zu rows\n", rows.size());
  for (const Row& row : rows) {
    if (!results.empty() && results.size() % 100 == 0)
      printf("row %zu of %zu, %lu s\n", results.size() + 1, rows.size(), (GetTickCount() - started) / 1000);
    Result result = RunRow(scenario, row, out_dir);
    // In the sample, the first row of each ending is run once more with its
    // boxes as real windows.
    if (mode == "--sample" && result.problems.empty() && result.outcome != "power cut" &&
        windows_checked.insert(result.outcome).second) {
      scenario.Reset();
      Order order = row.order;
      order.real_boxes = true;
      const Run shown = scenario.RunOnce(order);
      if (Outcome(shown) != result.outcome)
        result.problems.push_back("with real boxes it ended with " + Outcome(shown));
      for (const std::string& problem : CheckWindows(harness, shown)) result.problems.push_back(problem);
    }
    std::string line = Describe(scenario, row) + " -> " + result.outcome + "; again -> " + result.rerun;
    if (!result.problems.empty()) {
      ++failed;
      for (const std::string& problem : result.problems) {
        line += "\n    FAILED: " + problem;
        if (problem.compare(0, 5, "lost:") == 0) ++lost;
      }
      printf("%s\n", line.c_str());
    }
    listing += line + "\n";
    results.push_back(result);
  }
  const std::string table = Table(clean.calls, clean.allocations, results);
  Write(out_dir + L"\\rows.txt", listing);
  Write(out_dir + L"\\table.txt", table);
  printf("%s", table.c_str());
  const unsigned seconds = (GetTickCount() - started) / 1000;
  printf("%zu rows in %u s: %zu calls, %zu faults tried, %u failed\n", results.size(), seconds, clean.calls.size(),
         results.size(), failed);
  if (!results.empty()) {
    const DWORD rows_run = static_cast<DWORD>(results.size());
    printf("a row: %lu ms making the installation, %lu ms for its two runs, %lu ms checking\n", spent.making / rows_run,
           spent.running / rows_run, spent.checking / rows_run);
  }
  if (mode == "--defect") {
    if (lost == 0) {
      printf("the defect was not seen: no row lost a file\n");
      return 1;
    }
    printf("the defect was seen: %u rows failed, %u of them with a file lost\n", failed, lost);
    return 0;
  }
  if (failed == 0) printf("all survived\n");
  return failed == 0 ? 0 : 1;
}
