#include "tests/e2e/ui_driver.h"

#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <set>
#include <utility>

namespace {

// Dialog 102 of the patcher: the progress window.
constexpr int kCurrentBar = 300;
constexpr int kOverallBar = 301;
constexpr int kCurrentFile = 302;
constexpr int kCurrentPercent = 303;
constexpr int kStatusLine = 304;
constexpr int kOverallPercent = 305;
// The text of a standard message box is the static control with id 0xFFFF.
constexpr int kBoxText = 0xFFFF;

// The patcher relabels a box's buttons when the box is activated; give it
// this long after the box became visible and enabled before reading them.
constexpr DWORD kSettleMs = 100;

std::wstring TextOf(HWND window) {
  if (window == nullptr) return std::wstring();
  // WM_GETTEXT reaches windows of another process; the text is copied. The
  // program may set a longer text between the length and the copy, which
  // then fills the buffer cut short: the buffer keeps a spare character, and
  // a copy that reaches it is taken again with twice the room.
  size_t size = static_cast<size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 2;
  for (;;) {
    std::wstring text(size, L'\0');
    const LRESULT copied =
        SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(&text[0]));
    if (copied <= 0) return std::wstring();
    if (static_cast<size_t>(copied) + 1 < size) {
      text.resize(static_cast<size_t>(copied));
      return text;
    }
    size *= 2;
  }
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

bool IsTopmost(HWND window) { return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

struct EnumState {
  DWORD process_id;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
  EnumState* state = reinterpret_cast<EnumState*>(data);
  DWORD owner_process = 0;
  GetWindowThreadProcessId(window, &owner_process);
  if (owner_process == state->process_id) state->windows.push_back(window);
  return TRUE;
}

// Top-level windows of the process, in z-order.
std::vector<HWND> WindowsOf(DWORD process_id) {
  EnumState state{process_id, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
  return state.windows;
}

bool IsDialog(HWND window) { return ClassOf(window) == L"#32770"; }
bool IsProgressWindow(HWND window) { return IsDialog(window) && GetDlgItem(window, kStatusLine) != nullptr; }

ProgressRecord ReadProgress(HWND window) {
  ProgressRecord state;
  state.caption = TextOf(window);
  state.status = TextOf(GetDlgItem(window, kStatusLine));
  state.current_file = TextOf(GetDlgItem(window, kCurrentFile));
  state.current_percent = TextOf(GetDlgItem(window, kCurrentPercent));
  state.overall_percent = TextOf(GetDlgItem(window, kOverallPercent));
  state.current_bar = static_cast<int>(SendDlgItemMessageW(window, kCurrentBar, PBM_GETPOS, 0, 0));
  state.overall_bar = static_cast<int>(SendDlgItemMessageW(window, kOverallBar, PBM_GETPOS, 0, 0));
  state.visible = IsWindowVisible(window) != FALSE;
  state.topmost = IsTopmost(window);
  return state;
}

bool SameProgress(const ProgressRecord& a, const ProgressRecord& b) {
  return a.caption == b.caption && a.status == b.status && a.current_file == b.current_file &&
         a.current_percent == b.current_percent && a.overall_percent == b.overall_percent &&
         a.current_bar == b.current_bar && a.overall_bar == b.overall_bar && a.visible == b.visible &&
         a.topmost == b.topmost;
}

struct ChildList {
  std::vector<HWND> children;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM data) {
  reinterpret_cast<ChildList*>(data)->children.push_back(child);
  return TRUE;
}

// Children of a box in z-order (the order of the dialog's controls).
std::vector<HWND> ChildrenOf(HWND window) {
  ChildList list;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&list));
  return list.children;
}

// The message box shows its icon in a static control with SS_ICON style;
// a box without icon hides that control.
HWND IconControl(HWND box) {
  for (HWND child : ChildrenOf(box)) {
    if (ClassOf(child) != L"Static") continue;
    const LONG style = GetWindowLongW(child, GWL_STYLE);
    if ((style & SS_TYPEMASK) == SS_ICON && (style & WS_VISIBLE) != 0) return child;
  }
  return nullptr;
}

using Pixels = std::vector<COLORREF>;

// Pixels of a width x height area, drawn by `paint` into a bitmap like the
// screen's.
template <typename Paint>
Pixels Render(int width, int height, Paint paint) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  paint(memory, screen);
  Pixels pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

Pixels IconOn(HICON icon, int width, int height, int background) {
  return Render(width, height, [&](HDC memory, HDC) {
    RECT all = {0, 0, width, height};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(background)));
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  });
}

// Icon handles belong to the process that loaded them, so the handle the
// box holds cannot be compared with one loaded here, nor drawn here. The
// icon is told apart by its pixels on the screen instead: each system icon
// is drawn here on black and on white, the pixels that come out the same on
// both are its opaque ones, and the icon whose opaque pixels all match the
// box's control is the one shown.
std::string IconName(HWND box) {
  HWND control = IconControl(box);
  if (control == nullptr || SendMessageW(control, STM_GETICON, 0, 0) == 0) return "";
  RECT area;
  GetWindowRect(control, &area);
  const int width = area.right - area.left, height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return "unknown";
  const Pixels shown = Render(width, height, [&](HDC memory, HDC screen) {
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  });
  struct Known {
    const wchar_t* resource;
    const char* name;
  };
  const Known known[] = {{IDI_HAND, "error"},
                         {IDI_ASTERISK, "information"},
                         {IDI_EXCLAMATION, "warning"},
                         {IDI_QUESTION, "question"}};
  for (const Known& k : known) {
    HICON icon = LoadIconW(nullptr, k.resource);
    const Pixels on_black = IconOn(icon, width, height, BLACK_BRUSH);
    const Pixels on_white = IconOn(icon, width, height, WHITE_BRUSH);
    size_t opaque = 0, matching = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (on_black[i] != on_white[i]) continue;
      ++opaque;
      if (on_black[i] == shown[i]) ++matching;
    }
    if (opaque > 0 && matching == opaque) return k.name;
  }
  return "unknown";
}

BoxRecord ReadBox(HWND box) {
  BoxRecord record;
  record.caption = TextOf(box);
  record.text = TextOf(GetDlgItem(box, kBoxText));
  for (HWND child : ChildrenOf(box)) {
    if (ClassOf(child) == L"Button") record.buttons.push_back({GetDlgCtrlID(child), TextOf(child)});
  }
  // Windows keeps an owned box above its owner, but Wine with unmanaged
  // windows can leave the box's X window under the progress window, whose
  // pixels are then read in its place. Such a box is raised (without taking
  // the focus or changing whether it is topmost) and read again.
  record.icon = IconName(box);
  for (int tries = 0; record.icon == "unknown" && tries < 20; ++tries) {
    if (tries == 0) SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Sleep(25);
    record.icon = IconName(box);
  }
  record.topmost = IsTopmost(box);
  HWND owner = GetWindow(box, GW_OWNER);
  record.owned = owner != nullptr;
  record.owner_caption = TextOf(owner);
  return record;
}

class Driver {
 public:
  Driver(const RunOptions& options, const PROCESS_INFORMATION& process) : options_(options), process_(process) {}

  RunRecord Run() {
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD waited = WaitForSingleObject(process_.hProcess, options_.poll_ms);
      if (waited == WAIT_OBJECT_0) break;
      SampleMemory();
      Scan();
      if (GetTickCount() - start > options_.timeout_ms) {
        record_.timed_out = true;
        TerminateProcess(process_.hProcess, static_cast<UINT>(-1));
        WaitForSingleObject(process_.hProcess, 5000);
        break;
      }
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    record_.exit_code = code;
    SampleMemory();
    record_.progress_windows_at_exit = static_cast<int>(WindowsOf(process_.dwProcessId).size());
    return record_;
  }

 private:
  // The process's peak committed private memory as far as it can be read:
  // once the process is gone Wine no longer reports it, so it is sampled at
  // every poll as well.
  void SampleMemory() {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process_.hProcess, &memory, sizeof memory)) return;
    const size_t peak = std::max<size_t>(memory.PeakPagefileUsage, memory.PagefileUsage);
    record_.peak_private_bytes = std::max(record_.peak_private_bytes, peak);
  }

  void Scan() {
    std::vector<HWND> boxes;
    for (HWND window : WindowsOf(process_.dwProcessId)) {
      if (!IsDialog(window)) continue;
      if (IsProgressWindow(window)) {
        RecordProgress(window);
      } else if (handled_.count(window) == 0 && IsWindowVisible(window) && IsWindowEnabled(window)) {
        boxes.push_back(window);
      }
    }
    if (!boxes.empty()) HandleBoxes(boxes);
  }

  void RecordProgress(HWND window) {
    const ProgressRecord state = ReadProgress(window);
    // A window torn down while it was read shows empty texts: not a state.
    if (!IsWindow(window) || GetDlgItem(window, kStatusLine) == nullptr) return;
    if (!record_.progress.empty() && SameProgress(record_.progress.back(), state)) return;
    record_.progress.push_back(state);
    record_.progress.back().order = next_order_++;
    record_.progress.back().ms = GetTickCount() - start_ms_;
    if (options_.on_progress) options_.on_progress(record_.progress.back());
  }

  // Lets the boxes settle, records every one of them before answering any
  // (so that two boxes shown at once are both seen), then answers them.
  void HandleBoxes(const std::vector<HWND>& boxes) {
    if (WaitForSingleObject(process_.hProcess, kSettleMs) == WAIT_OBJECT_0) return;
    std::vector<std::pair<HWND, size_t>> recorded;
    for (HWND box : boxes) {
      if (!IsWindow(box)) continue;
      handled_.insert(box);
      BoxRecord box_record = ReadBox(box);
      box_record.order = next_order_++;
      box_record.ms = GetTickCount() - start_ms_;
      record_.boxes.push_back(box_record);
      recorded.emplace_back(box, record_.boxes.size() - 1);
    }
    for (const auto& [box, index] : recorded) {
      const BoxRecord& box_record = record_.boxes[index];
      int button = box_record.buttons.empty() ? 1 : box_record.buttons.front().id;
      if (index < options_.answers.size()) {
        const Answer& answer = options_.answers[index];
        if (answer.before) answer.before();
        button = answer.button;
      }
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    }
  }

  const RunOptions& options_;
  PROCESS_INFORMATION process_;
  RunRecord record_;
  std::set<HWND> handled_;
  int next_order_ = 0;
  const DWORD start_ms_ = GetTickCount();
};

void AppendUtf8(std::string& out, const std::wstring& text) {
  if (text.empty()) return;
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  out += bytes;
}

void AppendEscaped(std::string& out, const std::string& utf8) {
  out.push_back('"');
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          wsprintfA(escape, "\\u%04x", c);
          out += escape;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

std::string Json(const std::wstring& text) {
  std::string utf8;
  AppendUtf8(utf8, text);
  std::string out;
  AppendEscaped(out, utf8);
  return out;
}

std::string Json(const std::string& text) {
  std::string out;
  AppendEscaped(out, text);
  return out;
}

const char* Json(bool value) { return value ? "true" : "false"; }

std::string BoxLine(const BoxRecord& box) {
  std::string line = "{\"box\":{\"caption\":" + Json(box.caption) + ",\"text\":" + Json(box.text) + ",\"buttons\":[";
  for (size_t i = 0; i < box.buttons.size(); ++i) {
    if (i > 0) line += ",";
    line += "{\"id\":" + std::to_string(box.buttons[i].id) + ",\"label\":" + Json(box.buttons[i].label) + "}";
  }
  line += "],\"icon\":" + Json(box.icon) + ",\"topmost\":" + Json(box.topmost) + ",\"owned\":" + Json(box.owned) +
          ",\"owner_caption\":" + Json(box.owner_caption) + ",\"ms\":" + std::to_string(box.ms) + "}}\n";
  return line;
}

std::string ProgressLine(const ProgressRecord& p) {
  return "{\"progress\":{\"caption\":" + Json(p.caption) + ",\"status\":" + Json(p.status) +
         ",\"current_file\":" + Json(p.current_file) + ",\"current_percent\":" + Json(p.current_percent) +
         ",\"overall_percent\":" + Json(p.overall_percent) + ",\"current_bar\":" + std::to_string(p.current_bar) +
         ",\"overall_bar\":" + std::to_string(p.overall_bar) + ",\"visible\":" + Json(p.visible) +
         ",\"topmost\":" + Json(p.topmost) + ",\"ms\":" + std::to_string(p.ms) + "}}\n";
}

}  // namespace

RunRecord RunAndDrive(const RunOptions& options) {
  std::wstring command_line = L"\"" + options.program + L"\"";
  if (!options.arguments.empty()) command_line += L" " + options.arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(options.program.c_str(), &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    RunRecord failed;
    failed.started = false;
    return failed;
  }
  Driver driver(options, process);
  RunRecord record = driver.Run();
  record.started = true;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return record;
}

std::string ToJsonLines(const RunRecord& record) {
  std::string lines;
  // Boxes and progress states merged back into the order they were seen.
  size_t b = 0, p = 0;
  while (b < record.boxes.size() || p < record.progress.size()) {
    const bool box_next = p == record.progress.size() ||
                          (b < record.boxes.size() && record.boxes[b].order < record.progress[p].order);
    lines += box_next ? BoxLine(record.boxes[b++]) : ProgressLine(record.progress[p++]);
  }
  lines += "{\"exit\":" + std::to_string(record.exit_code) + ",\"timed_out\":" + Json(record.timed_out) +
           ",\"started\":" + Json(record.started) +
           ",\"windows_at_exit\":" + std::to_string(record.progress_windows_at_exit) +
           ",\"peak_private_bytes\":" + std::to_string(record.peak_private_bytes) + "}\n";
  return lines;
}
