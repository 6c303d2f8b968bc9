#include "tools/cli/default_stub.h"

#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tools/common/authoring_error.h"
#include "tools/tree/paths.h"

namespace fs = std::filesystem;

namespace {

// The folder of the running program: on Linux its resolved path, so that a
// link to it in another folder finds the stub beside the program itself.
fs::path ProgramDir() {
#ifdef _WIN32
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(&path[0]), static_cast<DWORD>(path.size()));
    if (length == 0) throw AuthoringError("cannot find where qtr_author.exe lies");
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return fs::u8path(WideToUtf8(path)).parent_path();
#else
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw AuthoringError("cannot find where qtr_author lies: " + ec.message());
  return self.parent_path();
#endif
}

// "PATH", or "PATH (a link to TARGET, which is not a file)".
std::string Looked(const std::string& place) {
  std::error_code ec;
  const fs::path path = fs::u8path(place);
  if (!fs::is_symlink(fs::symlink_status(path, ec))) return place;
  return place + " (a link to " + fs::read_symlink(path, ec).u8string() + ", which is not a file)";
}

// Installed, share/ lies beside bin/ (and a build tree links its
// share/qtr/qtr_patch_stub.exe to the Windows build's stub); the Windows
// package holds everything in one folder.
std::vector<std::string> Places(const fs::path& dir) {
  return {(dir / ".." / "share" / "qtr" / "qtr_patch_stub.exe").lexically_normal().u8string(),
          (dir / "qtr_patch_stub.exe").lexically_normal().u8string()};
}

}  // namespace

std::string FindDefaultStub() {
  const std::vector<std::string> places = Places(ProgramDir());
  std::error_code ec;
  for (const auto& place : places)
    if (fs::is_regular_file(fs::u8path(place), ec)) return place;
  throw AuthoringError("no stub patcher beside qtr_author: looked for " + Looked(places[0]) + " and " +
                       Looked(places[1]) + "; name one with --stub STUB.exe (the qtr_patch_stub build)");
}
