// bench_copy_tree.exe SRC DST: copies every file of the tree SRC into DST
// (created) with CopyFileW and prints the milliseconds it took: the plain
// copy that the patcher's install phase is measured against.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool CopyTree(const std::wstring& from, const std::wstring& to) {
  CreateDirectoryW(to.c_str(), nullptr);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(from + L"\\" + name, to + L"\\" + name) && ok;
    } else {
      ok = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && ok;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_copy_tree.exe SRC DST\n", stderr);
    return 2;
  }
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const bool ok = CopyTree(argv[1], argv[2]);
  QueryPerformanceCounter(&end);
  std::printf("%.1f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return ok ? 0 : 1;
}
