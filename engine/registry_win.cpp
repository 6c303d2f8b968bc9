#include <windows.h>

#include <vector>

#include "engine/registry.h"
#include "files/win_text_win.h"

namespace {

constexpr DWORD kDataLimit = 1024;    // bytes of value data read
constexpr DWORD kExpandLimit = 2048;  // characters after expansion

class RegistryKey {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

HKEY OpenNarrow(const NarrowText& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
    return nullptr;
  return handle;
}

// The data's text up to its first zero byte with %NAME% references
// expanded; as it is when the expansion fails or would be too long.
NarrowText Expanded(const std::vector<char>& data) {
  std::vector<char> expanded(kExpandLimit + 1, 0);
  const DWORD needed = ExpandEnvironmentStringsA(data.data(), expanded.data(), kExpandLimit);
  if (needed == 0 || needed > kExpandLimit) return NarrowText(data.data());
  return NarrowText(expanded.data());
}

// Reads the value's text as ReadRegistryText gives it into `text`. Returns
// ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when the key or the value is absent,
// ERROR_MORE_DATA when the data are longer than the limit, or whatever
// else stopped the read.
LONG QueryText(const RegValue& location, NarrowText& text) {
  HKEY handle = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, location.key.c_str(), 0, KEY_ALL_ACCESS, &handle);
  if (opened != ERROR_SUCCESS) return opened;
  RegistryKey key(handle);
  // Two spare zero bytes behind the data, so that even 1024 bytes of data
  // without a terminator end in one.
  std::vector<char> data(kDataLimit + 2, 0);
  DWORD size = kDataLimit;
  const LONG read = RegQueryValueExA(key.get(), location.value.c_str(), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(data.data()), &size);
  if (read == ERROR_SUCCESS) text = Expanded(data);
  return read;
}

}  // namespace

NarrowText ReadRegistryText(const RegValue& location) {
  NarrowText text;
  if (!location.key.empty() && !location.value.empty()) QueryText(location, text);
  return text;
}

WideText ReadRegistryTextWide(const RegValue& location) {
  if (location.key.empty() || location.value.empty()) return WideText();
  const WideText key_name = Utf8ToWide(location.key);
  const WideText value_name = Utf8ToWide(location.value);
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinText(key_name), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) {
    return WideText();
  }
  RegistryKey key(handle);
  std::vector<wchar_t> data(kDataLimit / 2 + 1, 0);
  DWORD size = kDataLimit;
  if (RegQueryValueExW(key.get(), WinText(value_name), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS) {
    return WideText();
  }
  // The text ends at the first zero unit or right behind the data.
  data[size / 2] = 0;
  std::vector<wchar_t> expanded(kExpandLimit + 1, 0);
  const DWORD needed = ExpandEnvironmentStringsW(data.data(), expanded.data(), kExpandLimit);
  if (needed == 0 || needed > kExpandLimit) return FromWinText(data.data());
  return FromWinText(expanded.data());
}

RegistryWrite WriteRegistryText(const RegValue& location, const NarrowText& text) {
  NarrowText current;
  const LONG read =
      location.key.empty() || location.value.empty() ? ERROR_FILE_NOT_FOUND : QueryText(location, current);
  if (read == ERROR_FILE_NOT_FOUND || read == ERROR_MORE_DATA || (read == ERROR_SUCCESS && current.empty()))
    return RegistryWrite::kNoText;
  // A read that failed otherwise cannot tell whether there is text to
  // replace: that is a failure, not an absent value.
  if (read != ERROR_SUCCESS) return RegistryWrite::kFailed;
  RegistryKey key(OpenNarrow(location.key));
  if (!key.get()) return RegistryWrite::kFailed;
  return RegSetValueExA(key.get(), location.value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS
             ? RegistryWrite::kStored
             : RegistryWrite::kFailed;
}
