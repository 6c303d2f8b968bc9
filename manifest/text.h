#pragma once
// Narrow text (bytes, UTF-8 where it comes from a manifest) and wide text
// (16-bit units on every platform). Conversion runs only from narrow to wide.
#include <cstddef>
#include <cstdint>
#include <string>

using NarrowText = std::string;
using WideText = std::u16string;

struct DecodedChar {
  char32_t code;  // the code point, U+FFFD for a byte that starts no sequence
  size_t next;    // position right after the bytes taken
};

// Decodes the UTF-8 sequence at text[pos]. The text ends at its first NUL
// byte: a sequence cut short by it yields U+FFFD and stops at the NUL, so no
// byte past the end is ever read. A byte that cannot start a sequence
// (0x80..0xBF, 0xF8..0xFF) yields U+FFFD and is stepped over. Continuation
// bytes are not checked; only their low six bits are used.
DecodedChar DecodeUtf8Char(const char* text, size_t pos);

// Converts text up to its first NUL. Code points above U+FFFF become a
// surrogate pair.
WideText Utf8ToWide(const NarrowText& text);

// Turns "/" into "\", collapses runs of separators and removes a trailing
// one; a leading separator is kept only when keepLeading is true, and then a
// network path ("\\server\share\...") keeps both of its leading ones, so
// that it stays a network path. Paths below the installation folder are
// normalised with keepLeading, for the folder may be on a network share.
WideText NormalizePath(const WideText& path, bool keepLeading);

// Whether a path names one place whatever the current folder and drive: a
// drive path ("C:\..." or "C:/...") or a network path ("\\server\share..."),
// not one relative to the current folder or drive ("games", "\games",
// "C:games") nor a device path ("\\?\...", "\\.\...").
bool IsAbsolutePath(const WideText& path);

// "%lld" rules: leading white space, an optional sign, decimal digits up to
// the first other character; 0 when no digit is read. Saturates on overflow.
int64_t ParseInt64(const NarrowText& text);

// The standard atoi rules with the same reading; saturates to 32 bits.
int32_t ParseAtoi(const NarrowText& text);

// ASCII text widened unit for unit.
WideText WidenAscii(const char* text);
