#include "tools/terminal.h"

#include <chrono>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

#include "tools/paths.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide != nullptr && i < count; ++i) {
    const std::u16string text(reinterpret_cast<const char16_t*>(wide[i]));
    args.push_back(WideToUtf8(text));
  }
  LocalFree(wide);
  (void)argc;
#else
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
#endif
  return args;
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void Progress::Show(const std::string& text) {
  if (!shown_) return;
  const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
  if (now - last_ms_ < 100) return;
  last_ms_ = now;
  std::string line = text.size() > 100 ? text.substr(0, 48) + "..." + text.substr(text.size() - 49) : text;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  dirty_ = true;
}

void Progress::Done() {
  if (!dirty_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  dirty_ = false;
}
