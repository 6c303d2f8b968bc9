#include "tests/e2e/scenario.h"

#include <windows.h>
#include <zlib.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <thread>
#include <utility>

#include "files/file_ops.h"
#include "files/win_text_win.h"

std::wstring WindowsPath(const std::string& unix_path) {
  std::wstring path(unix_path.begin(), unix_path.end());
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (!unix_path.empty() && unix_path[0] == '/') path = L"Z:" + path;
  return path;
}

RunRecord RunProgram(const std::wstring& program, std::vector<Answer> answers, const std::wstring& arguments,
                     unsigned timeout_ms) {
  RunOptions options;
  options.program = program;
  options.arguments = arguments;
  options.answers = std::move(answers);
  options.timeout_ms = timeout_ms;
  return RunAndDrive(options);
}

RunRecord RunProgramWatched(const std::wstring& program, std::vector<Answer> answers, const wchar_t* caption,
                            const std::function<bool(HWND)>& reached, const std::function<void(HWND)>& act,
                            bool again) {
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    HWND reached_at = nullptr;
    while (!finished) {
      if (reached_at == nullptr) {
        HWND window = FindWindowW(nullptr, caption);
        if (window != nullptr && reached(window)) reached_at = window;
      }
      if (reached_at != nullptr) {
        act(reached_at);
        if (!again) return;
      }
      Sleep(1);
    }
  });
  RunRecord run = RunProgram(program, std::move(answers));
  finished = true;
  watcher.join();
  return run;
}

std::wstring CurrentFileOf(HWND window) {
  HWND control = GetDlgItem(window, 302);
  wchar_t text[1024] = {};
  DWORD_PTR result = 0;
  if (control == nullptr || !SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text),
                                                 SMTO_ABORTIFHUNG, 500, &result)) {
    return std::wstring();
  }
  return text;
}

int OverallBarOf(HWND window) {
  HWND control = GetDlgItem(window, 301);
  DWORD_PTR position = 0;
  if (control == nullptr || !SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 500, &position))
    return 0;
  return static_cast<int>(position);
}

void KillOwnerOf(HWND window, unsigned exit_code) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, process_id);
  if (process == nullptr) return;
  TerminateProcess(process, exit_code);
  CloseHandle(process);
}

bool SetMachineText(const std::wstring& key, const std::wstring& name, const std::wstring& text) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  const LONG result =
      RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

bool GetMachineText(const std::wstring& key, const std::wstring& name, std::wstring& text) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  DWORD type = 0, bytes = 0;
  LONG result = RegQueryValueExW(handle, name.c_str(), nullptr, &type, nullptr, &bytes);
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  if (result == ERROR_SUCCESS) {
    result = RegQueryValueExW(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &bytes);
  }
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return false;
  value.resize(bytes / sizeof(wchar_t));
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  text = value;
  return true;
}

bool DeleteMachineKey(const std::wstring& key) {
  const LONG result = RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
  if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) return false;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
    RegCloseKey(handle);
    return false;
  }
  return true;
}

RegistryKeyGuard::RegistryKeyGuard(std::wstring key) : key_(std::move(key)) { DeleteMachineKey(key_); }
RegistryKeyGuard::~RegistryKeyGuard() { DeleteMachineKey(key_); }

TempTree::TempTree(const std::wstring& parent) {
  wchar_t base[MAX_PATH] = {};
  if (parent.empty()) {
    GetTempPathW(MAX_PATH, base);
  } else {
    wcsncpy(base, (parent + L"\\").c_str(), MAX_PATH - 1);
  }
  static unsigned counter = 0;
  for (;;) {
    root_ = std::wstring(base) + L"qtr_e2e_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
    if (CreateDirectoryW(root_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      root_.clear();
      break;
    }
  }
}

TempTree::~TempTree() {
  if (!root_.empty()) DeletePath(FromWinText(root_.c_str()));
}

std::wstring TempTree::PathOf(const std::wstring& relative) const {
  std::wstring path = root_ + L"\\" + relative;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

bool TempTree::Write(const std::wstring& relative, const std::vector<unsigned char>& bytes) const {
  const std::wstring path = PathOf(relative);
  if (!CreateDirectoryChain(DirPart(FromWinText(path.c_str())))) return false;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool ReadBytes(const std::wstring& path, std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0x40000000;
  if (ok) {
    bytes.assign(static_cast<size_t>(size.QuadPart), 0);
    DWORD read = 0;
    ok = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                           read == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

bool HasBytes(const std::wstring& path, const std::vector<unsigned char>& expected) {
  std::vector<unsigned char> actual;
  return ReadBytes(path, actual) && actual == expected;
}

bool SameFiles(const std::wstring& a, const std::wstring& b) {
  std::vector<unsigned char> first, second;
  return ReadBytes(a, first) && ReadBytes(b, second) && first == second;
}

namespace {

void CollectTemporaryFiles(const std::wstring& dir, std::vector<std::wstring>& found) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      CollectTemporaryFiles(dir + L"\\" + name, found);
    } else if (name == L"new.dat" || name == L"undiff.dat" || name == L"tmp_uncomp.dat") {
      found.push_back(dir + L"\\" + name);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

void CollectListing(const std::wstring& dir, const std::wstring& relative, std::vector<std::wstring>& lines) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      lines.push_back(path + L" (link)");
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      lines.push_back(path + L"\\");
      CollectListing(dir + L"\\" + name, path, lines);
    } else {
      std::vector<unsigned char> bytes;
      const bool read = ReadBytes(dir + L"\\" + name, bytes);
      const uLong crc = crc32(0, bytes.data(), static_cast<uInt>(bytes.size()));
      wchar_t line[64];
      swprintf(line, 64, L" %lu bytes, crc %08lx", static_cast<unsigned long>(bytes.size()), crc);
      lines.push_back(path + (read ? line : L" unreadable"));
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

}  // namespace

std::vector<std::wstring> TreeListing(const std::wstring& dir) {
  std::vector<std::wstring> lines;
  CollectListing(dir, L"", lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string UnixPath(const std::wstring& windows_path) {
  // Wine's own export; absent on Windows, where these scenarios do not run.
  using Convert = char*(CDECL*)(const wchar_t*);
  const auto convert =
      reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return std::string();
  char* unix_path = convert(windows_path.c_str());
  if (unix_path == nullptr) return std::string();
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

bool RunUnix(const std::string& command) {
  // Wine gives a Unix process no handle to wait on or to read an exit code
  // from: the shell writes the command's exit code to a file when it ends.
  wchar_t folder[MAX_PATH], marker[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"qtr", 0, marker)) return false;
  DeleteFileW(marker);
  const std::string unix_marker = UnixPath(marker);
  const std::string script = command + "; echo $? >" + Quoted(unix_marker + ".part") + " && mv " +
                             Quoted(unix_marker + ".part") + " " + Quoted(unix_marker);
  const std::string line = "/bin/sh -c \"" + script + "\"";
  std::wstring wide_line(line.begin(), line.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (unix_marker.empty() || !CreateProcessW(L"Z:\\bin\\sh", &wide_line[0], nullptr, nullptr, FALSE, 0, nullptr,
                                             nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::vector<unsigned char> code;
  for (int waited = 0; waited < 30000 && !ReadBytes(marker, code); waited += 10) Sleep(10);
  DeleteFileW(marker);
  return code == std::vector<unsigned char>{'0', '\n'};
}

UnixLink::UnixLink(const std::wstring& link, const std::wstring& target) : link_(link) {
  const std::string unix_target = UnixPath(target);
  const std::string unix_link = UnixPath(link);
  if (!unix_target.empty() && !unix_link.empty() && RunUnix("ln -s " + Quoted(unix_target) + " " + Quoted(unix_link)))
    unix_link_ = unix_link;
}

bool UnixLink::made() const {
  const DWORD attributes = GetFileAttributesW(link_.c_str());
  return !unix_link_.empty() && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void UnixLink::Remove() {
  // Without -r: the link goes, never what it points at.
  if (!unix_link_.empty()) RunUnix("rm " + Quoted(unix_link_));
  unix_link_.clear();
}

std::vector<std::wstring> TemporaryFilesBelow(const std::wstring& dir) {
  std::vector<std::wstring> found;
  CollectTemporaryFiles(dir, found);
  return found;
}
