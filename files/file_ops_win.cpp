#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "files/file_ops.h"
#include "files/reparse_point.h"
#include "files/win_text_win.h"

namespace {

// The shell takes lists of paths ending with two zero units.
std::vector<wchar_t> DoubleTerminated(const WideText& path) {
  std::vector<wchar_t> buffer(path.begin(), path.end());
  buffer.push_back(L'\0');
  buffer.push_back(L'\0');
  return buffer;
}

bool ShellOperation(UINT function, const WideText& from, const WideText* to) {
  std::vector<wchar_t> source = DoubleTerminated(from);
  std::vector<wchar_t> destination;
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = nullptr;
  operation.wFunc = function;
  operation.pFrom = source.data();
  if (to != nullptr) {
    destination = DoubleTerminated(*to);
    operation.pTo = destination.data();
  }
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  return SHFileOperationW(&operation) == 0;
}

// The levels of `dir`, normalised, outermost first, without empty pieces:
// "a\\b/" gives "a" and "a\\b". The first level of a network path is its
// share, "\\\\server\\share": the server itself is no folder to make.
std::vector<WideText> DirectoryLevels(const WideText& dir) {
  const WideText normal = NormalizePath(dir, true);
  std::vector<WideText> levels;
  WideText prefix;
  size_t start = 0;
  if (normal.compare(0, 2, u"\\\\") == 0) {
    const size_t server = normal.find(u'\\', 2);
    start = server == WideText::npos ? WideText::npos : normal.find(u'\\', server + 1);
    if (start == WideText::npos) start = normal.size();
    prefix = normal.substr(0, start);
    levels.push_back(prefix);
    ++start;
  }
  while (start <= normal.size()) {
    size_t end = normal.find(u'\\', start);
    if (end == WideText::npos) end = normal.size();
    if (end > start) {
      if (!prefix.empty()) prefix.push_back(u'\\');
      prefix.append(normal, start, end - start);
      levels.push_back(prefix);
    }
    start = end + 1;
  }
  return levels;
}

// The reparse tag of the directory entry `path`, from the listing of its
// folder: nothing of the entry itself is opened, so a cloud placeholder is
// not fetched and a link is not followed. A name that could match others
// as a search pattern reads as unknown.
ReparseTag ReparseTagOf(const WideText& path) {
  if (path.find_first_of(u"*?<>\"") != WideText::npos) return {};
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW(WinText(path), &entry);
  if (find == INVALID_HANDLE_VALUE) return {};
  FindClose(find);
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return {};
  return {true, entry.dwReserved0};
}

// The attributes of `path` and whether they make it a link; the tag is read
// only where the attributes carry a reparse point.
bool IsLinkWith(const WideText& path, DWORD& attributes) {
  attributes = GetFileAttributesW(WinText(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && CountsAsLink(attributes, ReparseTagOf(path));
}

}  // namespace

bool PathExists(const WideText& path) { return PathFileExistsW(WinText(path)) == TRUE; }

bool IsAbsent(const WideText& path) {
  if (GetFileAttributesW(WinText(path)) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

bool IsLink(const WideText& path) {
  DWORD attributes;
  return IsLinkWith(path, attributes);
}

bool IsFolderOrLink(const WideText& path) {
  DWORD attributes;
  if (IsLinkWith(path, attributes)) return true;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool GetFileSize64(const WideText& path, int64_t& size) {
  HANDLE file = CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER value;
  const BOOL ok = GetFileSizeEx(file, &value);
  size = ok ? value.QuadPart : 0;
  CloseHandle(file);
  return ok != FALSE;
}

bool CreateDirectoryChain(const WideText& dir) {
  const std::vector<WideText> levels = DirectoryLevels(dir);
  // Nearly always the whole chain exists already (every file of a folder
  // asks again): one test then answers for every level.
  if (levels.empty() || PathExists(levels.back())) return true;
  for (const WideText& level : levels) {
    if (!PathExists(level) && !CreateDirectoryW(WinText(level), nullptr)) return false;
  }
  return true;
}

bool DeletePath(const WideText& path) { return ShellOperation(FO_DELETE, path, nullptr); }

bool RemoveTarget(const WideText& path) {
  const DWORD attributes = GetFileAttributesW(WinText(path));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const DWORD writable = attributes & ~FILE_ATTRIBUTE_READONLY;
    SetFileAttributesW(WinText(path), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
  }
  return DeletePath(path);
}

bool RemoveLeftover(const WideText& path) {
  if (!PathExists(path)) return true;
  DeletePath(path);
  return !PathExists(path);
}

bool RenamePath(const WideText& from, const WideText& to) { return ShellOperation(FO_RENAME, from, &to); }
