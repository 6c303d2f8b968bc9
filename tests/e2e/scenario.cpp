#include "tests/e2e/scenario.h"

#include <windows.h>

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

TempTree::TempTree() {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, base);
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

}  // namespace

std::vector<std::wstring> TemporaryFilesBelow(const std::wstring& dir) {
  std::vector<std::wstring> found;
  CollectTemporaryFiles(dir, found);
  return found;
}
