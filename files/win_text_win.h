#pragma once
// Wide text is 16-bit units everywhere; on Windows wchar_t is the same unit,
// so the Win32 calls take our text in place.
#include <windows.h>

#include "manifest/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

inline const wchar_t* WinText(const WideText& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline WideText FromWinText(const wchar_t* text) { return WideText(reinterpret_cast<const char16_t*>(text)); }
