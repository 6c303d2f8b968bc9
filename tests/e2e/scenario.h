#pragma once
// Helpers of the end-to-end scenarios: where the built programs are, the
// machine-wide registry values the patcher reads, temporary installation
// trees and byte comparison of files. Windows code, run under Wine.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/ui_driver.h"

// A path of the build tree as the Windows side sees it: under Wine the Unix
// root is drive Z:, so "/work/x/a.exe" becomes "Z:\work\x\a.exe". A path that
// is already a Windows path comes back with its separators turned into "\".
std::wstring WindowsPath(const std::string& unix_path);

// The patcher exit code of the internal-error ending (-1).
constexpr unsigned long kInternalErrorExit = 0xFFFFFFFFul;

// Runs `program` under the UI driver, answering the boxes in turn.
RunRecord RunProgram(const std::wstring& program, std::vector<Answer> answers = {},
                     const std::wstring& arguments = std::wstring(), unsigned timeout_ms = 30000);

// The same, while a watcher looks at the window captioned `caption` every
// millisecond: once `reached` holds it calls `act` with the window, and
// with `again` on every look after that until the run ends.
RunRecord RunProgramWatched(const std::wstring& program, std::vector<Answer> answers, const wchar_t* caption,
                            const std::function<bool(HWND)>& reached, const std::function<void(HWND)>& act,
                            bool again);
// The current-file line and the overall bar of the patcher's progress
// window (empty text and 0 when they cannot be read).
std::wstring CurrentFileOf(HWND window);
int OverallBarOf(HWND window);
// Ends the process of `window` at once with `exit_code`, as a kill does.
void KillOwnerOf(HWND window, unsigned exit_code);

// Text values below HKEY_LOCAL_MACHINE. Each scenario that touches a key
// removes it again through RegistryKeyGuard.
bool SetMachineText(const std::wstring& key, const std::wstring& name, const std::wstring& text);
// The value's text; false when the key or value is missing.
bool GetMachineText(const std::wstring& key, const std::wstring& name, std::wstring& text);
// Removes the key with all its subkeys; true when it is gone afterwards.
bool DeleteMachineKey(const std::wstring& key);

class RegistryKeyGuard {
 public:
  // Removes `key` now (a leftover of an earlier run) and again on scope exit.
  explicit RegistryKeyGuard(std::wstring key);
  ~RegistryKeyGuard();
  RegistryKeyGuard(const RegistryKeyGuard&) = delete;
  RegistryKeyGuard& operator=(const RegistryKeyGuard&) = delete;

 private:
  std::wstring key_;
};

// A fresh directory below the temporary folder, removed with everything in it
// when the object goes.
class TempTree {
 public:
  TempTree() : TempTree(std::wstring()) {}
  // Below `parent` instead of the temporary folder, when it is not empty.
  explicit TempTree(const std::wstring& parent);
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The directory, without a trailing separator.
  const std::wstring& root() const { return root_; }
  // root + "\" + relative ("/" or "\" separated).
  std::wstring PathOf(const std::wstring& relative) const;
  // Writes a file, creating its directories; false on failure.
  bool Write(const std::wstring& relative, const std::vector<unsigned char>& bytes) const;

 private:
  std::wstring root_;
};

// The whole file; false when it cannot be read.
bool ReadBytes(const std::wstring& path, std::vector<unsigned char>& bytes);
// True when the file exists and holds exactly `expected`.
bool HasBytes(const std::wstring& path, const std::vector<unsigned char>& expected);
// True when both files exist and are byte for byte the same.
bool SameFiles(const std::wstring& a, const std::wstring& b);
// Every file below `dir` that has one of the patcher's temporary names
// ("new.dat", "undiff.dat", "tmp_uncomp.dat").
std::vector<std::wstring> TemporaryFilesBelow(const std::wstring& dir);

// Every file and folder below `dir`, sorted, one line each: its path below
// `dir`, and for a file its size and CRC-32. Links are listed, not entered.
std::vector<std::wstring> TreeListing(const std::wstring& dir);

// The Unix path of a Windows path, as Wine maps it ("" when it has none).
std::string UnixPath(const std::wstring& windows_path);

// Runs a Unix shell command, which Wine starts as a Unix program, and waits
// for it; true when it ended with exit code 0. The scenarios make what a
// Windows program cannot make under Wine this way: a Unix symbolic link to
// a folder, which Windows programs see as a folder that is a reparse point
// (as a junction or a directory symbolic link is on Windows). Paths in the
// command are Unix paths, each in single quotes (see Quoted).
bool RunUnix(const std::string& command);
// `text` in single quotes, for a Unix shell command.
std::string Quoted(const std::string& text);

// A Unix symbolic link at `link` (a Windows path) to `target` (a Windows
// path), removed again, as a link, when the object goes: before the folder
// that holds it, whose removal must not reach through the link.
class UnixLink {
 public:
  UnixLink(const std::wstring& link, const std::wstring& target);
  ~UnixLink() { Remove(); }
  UnixLink(const UnixLink&) = delete;
  UnixLink& operator=(const UnixLink&) = delete;
  // True when the link is there and Windows sees it as a reparse point.
  bool made() const;
  void Remove();

 private:
  std::wstring link_;
  std::string unix_link_;
};
