#include "tools/cli/terminal.h"

#include <chrono>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

#include "tools/tree/paths.h"

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

namespace {

// Whether the byte starts a character of UTF-8 text (it is not one of the
// further bytes 10xxxxxx of a character).
bool StartsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

}  // namespace

std::string ShortStatusText(const std::string& text) {
  if (text.size() <= 100) return text;
  size_t head = 48;
  while (head > 0 && !StartsCharacter(text[head])) --head;
  size_t tail = text.size() - 49;
  while (tail < text.size() && !StartsCharacter(text[tail])) ++tail;
  return text.substr(0, head) + "..." + text.substr(tail);
}

void Progress::Show(const std::string& text) {
  if (!shown_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (done_) return;
  latest_ = text;
  if (Clock::now() - last_ >= kInterval) {
    Print();
    return;
  }
  waiting_ = true;
  if (!later_.joinable()) later_ = std::thread(&Progress::ShowLater, this);
  wake_.notify_one();
}

void Progress::Print() {
  std::fprintf(stream_, "\r\033[K%s", ShortStatusText(latest_).c_str());
  std::fflush(stream_);
  last_ = Clock::now();
  waiting_ = false;
  dirty_ = true;
}

void Progress::ShowLater() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done_) {
    if (!waiting_) {
      wake_.wait(lock);
    } else if (Clock::now() - last_ >= kInterval) {
      Print();
    } else {
      wake_.wait_until(lock, last_ + kInterval);
    }
  }
}

void Progress::Done() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
    if (dirty_) {
      std::fputs("\r\033[K", stream_);
      std::fflush(stream_);
      dirty_ = false;
    }
  }
  wake_.notify_one();
  if (later_.joinable()) later_.join();
}
