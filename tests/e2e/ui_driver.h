#pragma once
// The UI driver: starts a program (the patcher), watches every message box
// and the progress window of that process, answers the boxes as a scenario
// says, and records what it saw. Windows code; used by the end-to-end tests
// and by uidriver.exe (which prints the records as JSON lines).
#include <functional>
#include <string>
#include <vector>

struct ButtonRecord {
  int id;
  std::wstring label;
};

struct BoxRecord {
  std::wstring caption;
  std::wstring text;
  std::vector<ButtonRecord> buttons;  // in control order
  std::string icon;                   // "error", "information", "warning", "question" or ""
  bool topmost = false;
  bool owned = false;                 // has an owner window
  std::wstring owner_caption;         // the owner's caption when owned
  int order = 0;                      // position among all records of the run
  unsigned long ms = 0;               // when it was recorded, ms after the start
};

struct ProgressRecord {
  std::wstring caption;
  std::wstring status;        // control 304
  std::wstring current_file;  // control 302
  std::wstring current_percent, overall_percent;  // 303, 305
  int current_bar = 0, overall_bar = 0;           // 300, 301 positions
  bool visible = false;
  bool topmost = false;
  int order = 0;  // position among all records of the run
  unsigned long ms = 0;  // when it was recorded, ms after the start
};

// One scenario step: what to press on the next box, by button id. `before`
// runs (in the driver's process) after the box was recorded and before it is
// answered: a scenario can start or stop the game there.
struct Answer {
  int button;
  std::function<void()> before;
};

struct RunRecord {
  bool started = false;         // false when the program could not be started
  unsigned long exit_code = 0;  // as GetExitCodeProcess reports it
  bool timed_out = false;
  std::vector<BoxRecord> boxes;
  std::vector<ProgressRecord> progress;  // each distinct state, in order
  int progress_windows_at_exit = 0;      // windows of the process left at its end
  size_t peak_private_bytes = 0;         // the process's peak committed private memory
};

struct RunOptions {
  std::wstring program;
  std::wstring arguments;       // appended to the quoted program on its command line
  std::vector<Answer> answers;  // a box beyond the list is answered with its first button
  unsigned timeout_ms = 60000;
  // How often the windows are read. Every read sends several messages to
  // the program's window thread, which its own updates then wait behind;
  // the benchmarks read less often than the scenarios.
  unsigned poll_ms = 25;
  // Called on the driver's thread for each new progress state as it is
  // recorded (the demo takes its screenshot of the install phase here).
  std::function<void(const ProgressRecord&)> on_progress;
};

RunRecord RunAndDrive(const RunOptions& options);

// JSON lines (UTF-8): one object per box and per progress state in the order
// they were seen, then the exit.
std::string ToJsonLines(const RunRecord& record);
