// The fault harness: linked with the patcher's own objects, entry point and
// resources, it makes the patcher's calls at its Win32 boundary observable
// and able to fail. Before WinMain runs, it points the executable's import
// address table entries for the file, folder, shell, free-space and registry
// calls, for the C runtime's allocator and for MessageBoxW at wrappers of
// its own: the patcher's code, statically linked, reaches every one of
// those functions through that table, so nothing of the patcher changes.
//
// Every call of the main thread is counted and written to the report (see
// fault_plan.h) before it runs; the call named by QTR_FAULT_CALL meets its
// fault instead. Allocations are counted, and one of them fails, only in
// the install phase: from the return of the free-space query to the run's
// closing box. The harness's own work (the report, naming a box) is neither
// counted nor failed, and allocates nothing while a call is counted.
#include <windows.h>

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdlib>

#include "engine/language.h"
#include "engine/strings.h"
#include "tests/faults/fault_plan.h"
#include "ui/message_box.h"

namespace {

// The originals, as the loader resolved them.
struct Originals {
  decltype(&::CreateFileW) CreateFileW;
  decltype(&::ReadFile) ReadFile;
  decltype(&::WriteFile) WriteFile;
  decltype(&::SetFilePointer) SetFilePointer;
  decltype(&::GetFileSizeEx) GetFileSizeEx;
  decltype(&::FlushFileBuffers) FlushFileBuffers;
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::CreateDirectoryW) CreateDirectoryW;
  decltype(&::GetFileAttributesW) GetFileAttributesW;
  decltype(&::SetFileAttributesW) SetFileAttributesW;
  decltype(&::GetDiskFreeSpaceExW) GetDiskFreeSpaceExW;
  decltype(&::SHFileOperationW) SHFileOperationW;
  decltype(&::PathFileExistsW) PathFileExistsW;
  decltype(&::RegOpenKeyExA) RegOpenKeyExA;
  decltype(&::RegOpenKeyExW) RegOpenKeyExW;
  decltype(&::RegQueryValueExA) RegQueryValueExA;
  decltype(&::RegQueryValueExW) RegQueryValueExW;
  decltype(&::RegSetValueExA) RegSetValueExA;
  decltype(&::RegCloseKey) RegCloseKey;
  decltype(&::MessageBoxW) MessageBoxW;
  void* (*malloc)(size_t);
  void* (*calloc)(size_t, size_t);
  void* (*realloc)(void*, size_t);
} real;

// What this run was told to do.
struct Plan {
  unsigned call = 0;  // 0: no call fails
  Fault fault = Fault::kNone;
  unsigned alloc = 0;  // 0: no allocation fails
  bool real_boxes = false;
} plan;

DWORD main_thread = 0;
HANDLE report = INVALID_HANDLE_VALUE;
unsigned calls = 0;
unsigned allocations = 0;
bool install_phase = false;
// Set while the harness does its own work on the main thread.
int inside = 0;

// ---- The report: plain text lines, written as they happen, so that a run
// stopped at any point has said everything up to it.

struct Line {
  char text[2048];
  size_t length = 0;
  Line& operator<<(const char* part) {
    while (*part && length < sizeof text - 2) text[length++] = *part++;
    return *this;
  }
  Line& operator<<(unsigned long long number) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    while (count > 0 && length < sizeof text - 2) text[length++] = digits[--count];
    return *this;
  }
  Line& Wide(const wchar_t* part) {
    if (part == nullptr) return *this << "-";
    const int room = static_cast<int>(sizeof text - 2 - length);
    const int wrote = WideCharToMultiByte(CP_UTF8, 0, part, -1, text + length, room, nullptr, nullptr);
    if (wrote > 0) length += static_cast<size_t>(wrote - 1);
    return *this;
  }
  ~Line() {
    text[length++] = '\n';
    DWORD wrote = 0;
    if (report != INVALID_HANDLE_VALUE) real.WriteFile(report, text, static_cast<DWORD>(length), &wrote, nullptr);
  }
};

// The files the main thread has open, so that calls on a handle name it.
struct OpenFile {
  HANDLE handle;
  wchar_t path[MAX_PATH];
};
OpenFile open_files[32];

void Remember(HANDLE handle, const wchar_t* path) {
  for (OpenFile& file : open_files) {
    if (file.handle == nullptr) {
      file.handle = handle;
      lstrcpynW(file.path, path, MAX_PATH);
      return;
    }
  }
}

const wchar_t* PathOf(HANDLE handle) {
  for (const OpenFile& file : open_files) {
    if (file.handle == handle) return file.path;
  }
  return nullptr;
}

void Forget(HANDLE handle) {
  for (OpenFile& file : open_files) {
    if (file.handle == handle) file.handle = nullptr;
  }
}

bool Counted() { return inside == 0 && GetCurrentThreadId() == main_thread; }

[[noreturn]] void PowerCut() {
  Line() << "end power_cut";
  TerminateProcess(GetCurrentProcess(), kPowerCutExit);
  for (;;) Sleep(INFINITE);
}

// Counts one call and says whether it meets the planned fault; a power cut
// never returns. `argument` is the call's byte count or mode, `path` what
// it works on.
bool Enter(const char* kind, const char* argument, unsigned long long bytes, const wchar_t* path) {
  if (inside != 0) return false;
  if (GetCurrentThreadId() != main_thread) {
    // Never seen in a run of the patcher: its window thread makes none of
    // these calls. Said, so that a change there cannot go unnoticed.
    Line() << "elsewhere " << kind;
    return false;
  }
  ++inside;
  ++calls;
  {
    Line line;
    line << "call " << calls << " " << kind << " ";
    if (argument != nullptr) {
      line << argument;
    } else {
      line << bytes;
    }
    line << " ";
    line.Wide(path);
  }
  const bool hit = calls == plan.call;
  if (hit) {
    Line() << "fault " << calls << " " << FaultName(plan.fault);
    if (plan.fault == Fault::kPowerCut) PowerCut();
  }
  --inside;
  return hit;
}

bool EnterHandle(const char* kind, HANDLE handle, unsigned long long bytes = 0) {
  return Enter(kind, nullptr, bytes, PathOf(handle));
}

DWORD ErrorCode(bool data_transfer = false) {
  switch (plan.fault) {
    case Fault::kDiskFull:
      return ERROR_DISK_FULL;
    case Fault::kAccessDenied:
      return ERROR_ACCESS_DENIED;
    case Fault::kSharingViolation:
      return data_transfer ? ERROR_LOCK_VIOLATION : ERROR_SHARING_VIOLATION;
    default:
      return ERROR_IO_DEVICE;
  }
}

// A call that fails: its error becomes the thread's last error.
template <class Result>
Result Failed(Result result, bool data_transfer = false) {
  SetLastError(ErrorCode(data_transfer));
  return result;
}

DWORD Shortened(DWORD bytes) { return bytes > 1 ? bytes / 2 : bytes; }

// ---- Files.

HANDLE WINAPI HookCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model) {
  const bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  if (Enter("CreateFileW", creates ? "create" : "open", 0, path)) return Failed(INVALID_HANDLE_VALUE);
  const HANDLE file = real.CreateFileW(path, access, share, security, disposition, flags, model);
  if (file != INVALID_HANDLE_VALUE && Counted()) Remember(file, path);
  return file;
}

BOOL WINAPI HookReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD got, LPOVERLAPPED overlapped) {
  if (EnterHandle("ReadFile", file, bytes)) {
    if (plan.fault != Fault::kShort) return Failed(FALSE, true);
    bytes = Shortened(bytes);
  }
  return real.ReadFile(file, buffer, bytes, got, overlapped);
}

BOOL WINAPI HookWriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD wrote, LPOVERLAPPED overlapped) {
  if (EnterHandle("WriteFile", file, bytes)) {
    if (plan.fault != Fault::kShort) return Failed(FALSE, true);
    bytes = Shortened(bytes);
  }
  return real.WriteFile(file, buffer, bytes, wrote, overlapped);
}

DWORD WINAPI HookSetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
  if (EnterHandle("SetFilePointer", file, static_cast<unsigned long>(distance)))
    return Failed(static_cast<DWORD>(INVALID_SET_FILE_POINTER));
  return real.SetFilePointer(file, distance, high, method);
}

BOOL WINAPI HookGetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  if (EnterHandle("GetFileSizeEx", file)) return Failed(FALSE);
  return real.GetFileSizeEx(file, size);
}

BOOL WINAPI HookFlushFileBuffers(HANDLE file) {
  if (EnterHandle("FlushFileBuffers", file)) return Failed(FALSE);
  return real.FlushFileBuffers(file);
}

BOOL WINAPI HookCloseHandle(HANDLE handle) {
  // Only a power cut meets a close: the patcher's handles are its own.
  EnterHandle("CloseHandle", handle);
  if (Counted()) Forget(handle);
  return real.CloseHandle(handle);
}

// ---- Folders, attributes and existence.

BOOL WINAPI HookCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  if (Enter("CreateDirectoryW", "-", 0, path)) return Failed(FALSE);
  return real.CreateDirectoryW(path, security);
}

DWORD WINAPI HookGetFileAttributesW(LPCWSTR path) {
  if (Enter("GetFileAttributesW", "-", 0, path)) return Failed(INVALID_FILE_ATTRIBUTES);
  return real.GetFileAttributesW(path);
}

BOOL WINAPI HookSetFileAttributesW(LPCWSTR path, DWORD attributes) {
  if (Enter("SetFileAttributesW", "-", 0, path)) return Failed(FALSE);
  return real.SetFileAttributesW(path, attributes);
}

BOOL WINAPI HookPathFileExistsW(LPCWSTR path) {
  if (Enter("PathFileExistsW", "-", 0, path)) return Failed(FALSE);
  return real.PathFileExistsW(path);
}

// The shell's operation fails before it has changed anything.
int WINAPI HookSHFileOperationW(LPSHFILEOPSTRUCTW operation) {
  const char* what = operation->wFunc == FO_DELETE ? "delete" : operation->wFunc == FO_RENAME ? "rename" : "other";
  if (Enter("SHFileOperationW", what, 0, operation->pFrom)) return static_cast<int>(ErrorCode());
  return real.SHFileOperationW(operation);
}

BOOL WINAPI HookGetDiskFreeSpaceExW(LPCWSTR path, PULARGE_INTEGER available, PULARGE_INTEGER total,
                                    PULARGE_INTEGER free) {
  const bool hit = Enter("GetDiskFreeSpaceExW", "-", 0, path);
  const BOOL result = hit ? Failed(FALSE) : real.GetDiskFreeSpaceExW(path, available, total, free);
  if (Counted()) {
    // The install phase follows the free-space test.
    ++inside;
    Line() << "phase install";
    --inside;
    install_phase = true;
  }
  return result;
}

// ---- The registry. Each call returns its error instead of setting it.

LSTATUS WINAPI HookRegOpenKeyExA(HKEY key, LPCSTR name, DWORD options, REGSAM access, PHKEY opened) {
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_UTF8, 0, name ? name : "", -1, wide, MAX_PATH);
  if (Enter("RegOpenKeyExA", "-", 0, wide)) return static_cast<LSTATUS>(ErrorCode());
  return real.RegOpenKeyExA(key, name, options, access, opened);
}

LSTATUS WINAPI HookRegOpenKeyExW(HKEY key, LPCWSTR name, DWORD options, REGSAM access, PHKEY opened) {
  if (Enter("RegOpenKeyExW", "-", 0, name)) return static_cast<LSTATUS>(ErrorCode());
  return real.RegOpenKeyExW(key, name, options, access, opened);
}

LSTATUS WINAPI HookRegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_UTF8, 0, name ? name : "", -1, wide, MAX_PATH);
  if (Enter("RegQueryValueExA", "-", 0, wide)) return static_cast<LSTATUS>(ErrorCode());
  return real.RegQueryValueExA(key, name, reserved, type, data, size);
}

LSTATUS WINAPI HookRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (Enter("RegQueryValueExW", "-", 0, name)) return static_cast<LSTATUS>(ErrorCode());
  return real.RegQueryValueExW(key, name, reserved, type, data, size);
}

LSTATUS WINAPI HookRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_UTF8, 0, name ? name : "", -1, wide, MAX_PATH);
  if (Enter("RegSetValueExA", "-", 0, wide)) return static_cast<LSTATUS>(ErrorCode());
  return real.RegSetValueExA(key, name, reserved, type, data, size);
}

LSTATUS WINAPI HookRegCloseKey(HKEY key) {
  Enter("RegCloseKey", "-", 0, nullptr);
  return real.RegCloseKey(key);
}

// ---- Allocations of the install phase.

bool AllocationFails(size_t bytes) {
  if (!install_phase || !Counted()) return false;
  ++inside;
  ++allocations;
  Line() << "alloc " << allocations << " " << static_cast<unsigned long long>(bytes);
  const bool hit = allocations == plan.alloc;
  if (hit) Line() << "fault alloc " << allocations;
  --inside;
  return hit;
}

void* HookMalloc(size_t bytes) { return AllocationFails(bytes) ? nullptr : real.malloc(bytes); }
void* HookCalloc(size_t count, size_t size) {
  return AllocationFails(count * size) ? nullptr : real.calloc(count, size);
}
void* HookRealloc(void* block, size_t bytes) { return AllocationFails(bytes) ? nullptr : real.realloc(block, bytes); }

// ---- Message boxes, named by the string ids whose texts they show.

int TextId(uint16_t language, const wchar_t* text) {
  for (int id = IDS_STATUS_INITIALIZING; id <= IDS_BUTTON_NO; ++id) {
    const WideText candidate = LoadLocalizedString(language, id);
    if (!candidate.empty() && candidate == reinterpret_cast<const char16_t*>(text)) return id;
  }
  return 0;
}

int WINAPI HookMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  ++inside;
  install_phase = false;
  {
    Line line;
    line << "box ";
    if (lstrcmpW(text, L"An internal error has occured.") == 0 && lstrcmpW(caption, L"Error!") == 0) {
      line << "internal internal";
    } else {
      const uint16_t language = CurrentLanguage();
      line << static_cast<unsigned long long>(TextId(language, caption)) << " "
           << static_cast<unsigned long long>(TextId(language, text));
    }
    line << " " << static_cast<unsigned long long>(style);
  }
  int answer;
  if (plan.real_boxes) {
    answer = real.MessageBoxW(owner, text, caption, style);
  } else {
    // The start question is answered Yes, every other box with its first
    // button.
    answer = (style & 0xF) == MB_YESNO ? IDYES : (style & 0xF) == MB_RETRYCANCEL ? IDRETRY : IDOK;
  }
  --inside;
  return answer;
}

// ---- Setting up: the plan from the environment, then the table's entries.

unsigned Number(const wchar_t*& text) {
  unsigned value = 0;
  while (*text >= L'0' && *text <= L'9') value = value * 10 + static_cast<unsigned>(*text++ - L'0');
  return value;
}

void ReadPlan() {
  wchar_t text[MAX_PATH] = {};
  if (GetEnvironmentVariableW(QTR_FAULT_CALL, text, MAX_PATH) != 0) {
    const wchar_t* cursor = text;
    plan.call = Number(cursor);
    while (*cursor == L' ') ++cursor;
    for (int fault = 1; fault < static_cast<int>(sizeof kFaultNames / sizeof *kFaultNames); ++fault) {
      wchar_t name[32] = {};
      MultiByteToWideChar(CP_UTF8, 0, kFaultNames[fault], -1, name, 32);
      if (lstrcmpW(cursor, name) == 0) plan.fault = static_cast<Fault>(fault);
    }
    if (plan.fault == Fault::kNone) plan.call = 0;
  }
  if (GetEnvironmentVariableW(QTR_FAULT_ALLOC, text, MAX_PATH) != 0) {
    const wchar_t* cursor = text;
    plan.alloc = Number(cursor);
  }
  plan.real_boxes = GetEnvironmentVariableW(QTR_FAULT_BOXES, text, MAX_PATH) != 0 && lstrcmpW(text, L"real") == 0;
  if (GetEnvironmentVariableW(QTR_FAULT_REPORT, text, MAX_PATH) != 0) {
    report =
        real.CreateFileW(text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
}

// Points every entry of the executable's import address table that holds
// `original` at `wrapper`; returns how many it changed.
int Redirect(void* original, void* wrapper) {
  auto* image = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  int changed = 0;
  for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + imports.VirtualAddress);
       module->Name != 0; ++module) {
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(image + module->FirstThunk); slot->u1.Function != 0; ++slot) {
      if (reinterpret_cast<void*>(slot->u1.Function) != original) continue;
      DWORD protection = 0;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(wrapper);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
      ++changed;
    }
  }
  return changed;
}

struct Redirection {
  const char* dll;
  const char* name;
  void** original;
  void* wrapper;
};

template <class Function>
Redirection Entry(const char* dll, const char* name, Function& original, Function wrapper) {
  return {dll, name, reinterpret_cast<void**>(&original), reinterpret_cast<void*>(wrapper)};
}

struct Install {
  Install() {
    main_thread = GetCurrentThreadId();
    const Redirection table[] = {
        Entry("kernel32.dll", "CreateFileW", real.CreateFileW, HookCreateFileW),
        Entry("kernel32.dll", "ReadFile", real.ReadFile, HookReadFile),
        Entry("kernel32.dll", "WriteFile", real.WriteFile, HookWriteFile),
        Entry("kernel32.dll", "SetFilePointer", real.SetFilePointer, HookSetFilePointer),
        Entry("kernel32.dll", "GetFileSizeEx", real.GetFileSizeEx, HookGetFileSizeEx),
        Entry("kernel32.dll", "FlushFileBuffers", real.FlushFileBuffers, HookFlushFileBuffers),
        Entry("kernel32.dll", "CloseHandle", real.CloseHandle, HookCloseHandle),
        Entry("kernel32.dll", "CreateDirectoryW", real.CreateDirectoryW, HookCreateDirectoryW),
        Entry("kernel32.dll", "GetFileAttributesW", real.GetFileAttributesW, HookGetFileAttributesW),
        Entry("kernel32.dll", "SetFileAttributesW", real.SetFileAttributesW, HookSetFileAttributesW),
        Entry("kernel32.dll", "GetDiskFreeSpaceExW", real.GetDiskFreeSpaceExW, HookGetDiskFreeSpaceExW),
        Entry("shell32.dll", "SHFileOperationW", real.SHFileOperationW, HookSHFileOperationW),
        Entry("shlwapi.dll", "PathFileExistsW", real.PathFileExistsW, HookPathFileExistsW),
        Entry("advapi32.dll", "RegOpenKeyExA", real.RegOpenKeyExA, HookRegOpenKeyExA),
        Entry("advapi32.dll", "RegOpenKeyExW", real.RegOpenKeyExW, HookRegOpenKeyExW),
        Entry("advapi32.dll", "RegQueryValueExA", real.RegQueryValueExA, HookRegQueryValueExA),
        Entry("advapi32.dll", "RegQueryValueExW", real.RegQueryValueExW, HookRegQueryValueExW),
        Entry("advapi32.dll", "RegSetValueExA", real.RegSetValueExA, HookRegSetValueExA),
        Entry("advapi32.dll", "RegCloseKey", real.RegCloseKey, HookRegCloseKey),
        Entry("user32.dll", "MessageBoxW", real.MessageBoxW, HookMessageBoxW),
        Entry("msvcrt.dll", "malloc", real.malloc, HookMalloc),
        Entry("msvcrt.dll", "calloc", real.calloc, HookCalloc),
        Entry("msvcrt.dll", "realloc", real.realloc, HookRealloc),
    };
    // Every original first: the report itself is written through them.
    for (const Redirection& entry : table) {
      *entry.original = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(entry.dll), entry.name));
    }
    ReadPlan();
    for (const Redirection& entry : table) {
      const int changed = *entry.original != nullptr ? Redirect(*entry.original, entry.wrapper) : 0;
      Line() << "hooked " << entry.name << " " << static_cast<unsigned long long>(changed);
    }
  }
};

}  // namespace

// Runs among the program's static initialisers, before WinMain.
const Install install_hooks;
