#include "tools/tree/paths.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "tools/common/authoring_error.h"

namespace {

struct CaseRun {
  char16_t first, last;
  int32_t delta;
  int32_t stride;
};

constexpr CaseRun kCaseRuns[] = {
#include "tools/tree/case_table.inc"
};

char16_t Upcase(char16_t unit) {
  const auto run = std::upper_bound(std::begin(kCaseRuns), std::end(kCaseRuns), unit,
                                    [](char16_t u, const CaseRun& r) { return u < r.first; });
  if (run == std::begin(kCaseRuns)) return unit;
  const CaseRun& r = *(run - 1);
  if (unit > r.last || (unit - r.first) % r.stride != 0) return unit;
  return static_cast<char16_t>(unit + r.delta);
}

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    const int extra = b < 0x80             ? 0
                      : (b & 0xE0) == 0xC0 ? 1
                      : (b & 0xF0) == 0xE0 ? 2
                      : (b & 0xF8) == 0xF0 ? 3
                                           : -1;
    if (extra < 0 || (extra == 1 && b < 0xC2) || i + static_cast<size_t>(extra) >= s.size() + (extra == 0))
      return false;
    uint32_t code = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      code = (code << 6) | (c & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    i += 1 + static_cast<size_t>(extra);
  }
  return true;
}

std::string WideToUtf8(const WideText& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string FoldCase(const std::string& path) {
  WideText wide = Utf8ToWide(path);
  for (auto& unit : wide) unit = Upcase(unit);
  return WideToUtf8(wide);
}

bool SameOnEveryVolume(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool HasShortNameForm(const std::string& name) {
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  if (base.size() > 8 || (dot != std::string::npos && name.size() - dot - 1 > 3)) return false;
  if (dot != std::string::npos && name.find('.', dot + 1) != std::string::npos) return false;
  const size_t tilde = base.find('~');
  return tilde != std::string::npos && tilde + 1 < base.size() && base[tilde + 1] >= '0' && base[tilde + 1] <= '9';
}

size_t PathLengthBelowFolder(const std::string& path) {
  const size_t units = Utf8ToWide(path).size();
  const size_t folder = Utf8ToWide(path.substr(0, path.rfind('/') + 1)).size();
  return std::max(units, folder + std::char_traits<char>::length("tmp_uncomp.dat"));
}

bool IsPatcherTemporaryName(const std::string& name) {
  // Compared as a volume that folds the most letters compares them.
  const std::string folded = FoldCase(name);
  return folded == "NEW.DAT" || folded == "UNDIFF.DAT" || folded == "TMP_UNCOMP.DAT";
}

void CheckCarriablePath(const std::string& path) {
  if (path.size() < 2 || path[0] != '/') throw AuthoringError("bad relative path: " + path);
  if (!ValidUtf8(path)) throw AuthoringError("path is not UTF-8, which pack documents need: " + path);
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name.empty()) throw AuthoringError("empty path component: " + path);
    for (const char c : name) {
      if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F ||
          std::string("\\:*?\"<>|").find(c) != std::string::npos)
        throw AuthoringError("path holds a character Windows file names cannot: " + path);
    }
    if (name.back() == '.' || name.back() == ' ')
      throw AuthoringError("file name ends in a dot or space, which Windows drops: " + path);
    std::string device = Lower(name.substr(0, name.find('.')));
    while (!device.empty() && device.back() == ' ') device.pop_back();
    // Windows also takes the ports numbered with the superscript digits 1
    // to 3 for devices; port 0 and the console's two ends are reserved on
    // some of its versions, and refused with the rest.
    static const std::set<std::string> kDevices = {
        "con",  "prn",  "aux",  "nul",  "com0", "com1", "com2", "com3", "com4", "com5", "com6",
        "com7", "com8", "com9", "com\u00b9", "com\u00b2", "com\u00b3", "lpt0", "lpt1", "lpt2",
        "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9", "lpt\u00b9", "lpt\u00b2", "lpt\u00b3",
        "conin$", "conout$"};
    if (kDevices.count(device)) throw AuthoringError("file name is a Windows device name: " + path);
    if (IsPatcherTemporaryName(name))
      throw AuthoringError("file name is one the patcher uses for its temporary files: " + path);
    start = end + 1;
  }
  const size_t length = PathLengthBelowFolder(path);
  if (length > kWindowsPathLimit - kRoomRequired)
    throw AuthoringError("path too long for Windows: " + std::to_string(length) +
                         " characters below the installation folder, at most " +
                         std::to_string(kWindowsPathLimit - kRoomRequired) + " fit: " + path);
}
