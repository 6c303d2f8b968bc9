#include "manifest/text.h"

#include <limits>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// A path that begins with two separators and names something after them.
bool IsNetworkPath(const WideText& path) {
  return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
         path.find_first_not_of(u"\\/") != WideText::npos;
}

bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads an optionally signed decimal number, saturating at the int64 range.
int64_t ParseDecimal(const NarrowText& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
      break;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (negative) return magnitude == (uint64_t{1} << 63) ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
  return static_cast<int64_t>(magnitude);
}

}  // namespace

DecodedChar DecodeUtf8Char(const char* text, size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  int more;
  char32_t code;
  if (lead < 0x80) return {lead, pos + 1};
  if (lead >= 0xC0 && lead <= 0xDF) {
    more = 1;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    more = 3;
    code = lead & 0x07;
  } else {
    return {kReplacement, pos + 1};
  }
  size_t next = pos + 1;
  for (int i = 0; i < more; ++i, ++next) {
    const auto c = static_cast<unsigned char>(text[next]);
    if (c == 0) return {kReplacement, next};
    code = (code << 6) | (c & 0x3F);
  }
  return {code, next};
}

WideText Utf8ToWide(const NarrowText& text) {
  // Units are gathered in a small fixed buffer and appended 91 at a time, so
  // a long text costs one append per 91 characters.
  constexpr size_t kBufferUnits = 92;
  constexpr size_t kFlushAt = 91;
  WideText result;
  char16_t buffer[kBufferUnits];
  size_t count = 0;
  const char* data = text.c_str();
  size_t pos = 0;
  while (data[pos] != '\0') {
    const DecodedChar decoded = DecodeUtf8Char(data, pos);
    pos = decoded.next;
    char32_t code = decoded.code;
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
    if (code > 0xFFFF) {
      code -= 0x10000;
      buffer[count++] = static_cast<char16_t>(0xD800 + (code >> 10));
      buffer[count++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      buffer[count++] = static_cast<char16_t>(code);
    }
    if (count >= kFlushAt) {
      result.append(buffer, count);
      count = 0;
    }
  }
  result.append(buffer, count);
  return result;
}

WideText NormalizePath(const WideText& path, bool keepLeading) {
  WideText result;
  result.reserve(path.size());
  // The second of a network path's two leading separators; the loop keeps
  // the first one.
  if (keepLeading && IsNetworkPath(path)) result.push_back(u'\\');
  bool previousWasSeparator = !keepLeading;
  for (char16_t unit : path) {
    if (unit == u'/') unit = u'\\';
    const bool separator = IsSeparator(unit);
    if (!(separator && previousWasSeparator)) result.push_back(unit);
    previousWasSeparator = separator;
  }
  if (!result.empty() && previousWasSeparator) result.pop_back();
  return result;
}

bool IsAbsolutePath(const WideText& path) {
  const bool drive = path.size() >= 3 &&
                     ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
                     path[1] == u':' && IsSeparator(path[2]);
  if (drive) return true;
  if (!IsNetworkPath(path)) return false;
  // "\\server\share": a server that is not "." or "?" (the device
  // namespaces), then a share.
  const WideText normal = NormalizePath(path, true);
  const size_t serverEnd = normal.find(u'\\', 2);
  if (serverEnd == WideText::npos || serverEnd + 1 >= normal.size()) return false;
  const WideText server = normal.substr(2, serverEnd - 2);
  return server != u"." && server != u"?";
}

int64_t ParseInt64(const NarrowText& text) { return ParseDecimal(text); }

int32_t ParseAtoi(const NarrowText& text) {
  const int64_t value = ParseDecimal(text);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

WideText WidenAscii(const char* text) {
  WideText result;
  for (; *text != '\0'; ++text) result.push_back(static_cast<unsigned char>(*text));
  return result;
}
