#pragma once
// The command line's contact with its terminal: arguments as UTF-8 on every
// platform, and a one-line progress display that shows only on a terminal.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The program's arguments after its name, as UTF-8 (on Windows read from
// the wide command line, so that names in any script survive).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

bool IsTerminal(std::FILE* stream);

// A status text of at most about 100 bytes: a longer one keeps its start and
// its end around "...", cut between characters, never inside one.
std::string ShortStatusText(const std::string& text);

// Rewrites one status line on `stream` (standard error), at most ten times a
// second. A text that comes sooner after the last one is not lost: the
// latest text is shown as soon as the interval allows, also when no other
// text follows (a long stage after a quick one). Show may be called from
// any thread.
class Progress {
 public:
  explicit Progress(bool shown, std::FILE* stream = stderr) : shown_(shown), stream_(stream) {}
  ~Progress() { Done(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Show(const std::string& text);
  // Clears the line; nothing is shown afterwards.
  void Done();

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{100};

  // Writes `latest_` (the caller holds the lock).
  void Print();
  // Shows a text that waited for the interval, until Done.
  void ShowLater();

  const bool shown_;
  std::FILE* const stream_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string latest_;
  bool waiting_ = false;  // `latest_` is newer than the line
  bool done_ = false;
  bool dirty_ = false;  // the line shows something
  Clock::time_point last_ = Clock::now() - kInterval;
  std::thread later_;
};
