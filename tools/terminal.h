#pragma once
// The command line's contact with its terminal: arguments as UTF-8 on every
// platform, and a one-line progress display that shows only on a terminal.
#include <cstdio>
#include <string>
#include <vector>

// The program's arguments after its name, as UTF-8 (on Windows read from
// the wide command line, so that names in any script survive).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

bool IsTerminal(std::FILE* stream);

// A status text of at most about 100 bytes: a longer one keeps its start and
// its end around "...", cut between characters, never inside one.
std::string ShortStatusText(const std::string& text);

// Rewrites one status line on standard error, at most a few times a second.
class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown) {}
  ~Progress() { Done(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Show(const std::string& text);
  // Clears the line.
  void Done();

 private:
  bool shown_;
  bool dirty_ = false;
  long long last_ms_ = -1000;
};
