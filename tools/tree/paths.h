#pragma once
// Installation paths as the authoring tool handles them: UTF-8 text, "/"
// separated, with a leading "/" ("/data/world.dat"), checked against what
// pack documents can carry and what Windows and the patcher can create, and
// compared the way Windows' file systems compare names.
#include <cstddef>
#include <string>

#include "manifest/text.h"

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool ValidUtf8(const std::string& text);

// UTF-16 back to UTF-8, for paths the patcher's readers produced.
std::string WideToUtf8(const WideText& text);

// The key under which Windows finds a path: each 16-bit unit of the Basic
// Multilingual Plane through its simple upper-case mapping, as the file
// systems' upcase tables (and Wine's) compare names; everything else as it
// is. Takes and gives UTF-8. Two paths with different keys are different
// files everywhere. Two with equal keys are one file where they differ only
// in the case of A-Z (see SameOnEveryVolume); beyond A-Z the upcase tables
// disagree (an NTFS volume keeps the table of the Windows that formatted
// it, and "\u0131" and "I" are one file on some and two on others), so
// such a pair may be one file or two.
std::string FoldCase(const std::string& path);

// True when `a` and `b` name the same file on every Windows installation:
// they are equal but for the case of the letters A-Z.
bool SameOnEveryVolume(const std::string& a, const std::string& b);

// True when a file or folder name has the form of the short (8.3) names
// Windows gives long names, such as "PROGRA~1" or "DATA~12.PAK": a name of
// at most eight characters, a tilde and a digit among them, and an extension
// of at most three. Where short names are kept such a name may be another
// file's.
bool HasShortNameForm(const std::string& name);

// The longest full path the patcher may meet is Windows' path limit: 259
// characters (16-bit units) and the terminating NUL.
constexpr size_t kWindowsPathLimit = 259;
// Room left for the installation folder (such as "C:\Program Files (x86)"
// followed by the publisher's and the game's folder): a path that needs more than the limit less this is
// refused, one that needs more than the limit less kRoomWarned is warned of.
constexpr size_t kRoomRequired = 64;
constexpr size_t kRoomWarned = 128;

// The characters the patcher needs below the installation folder for `path`:
// the path itself and the temporary file "tmp_uncomp.dat" it writes beside
// it, counted in 16-bit units with "\" separators.
size_t PathLengthBelowFolder(const std::string& path);

// Raises AuthoringError unless `path` can travel in a pack document and be
// created by the patcher: UTF-8 without control characters, no characters
// Windows forbids in names, no name ending in a dot or space, no reserved
// device name, none of the patcher's temporary file names ("new.dat",
// "undiff.dat", "tmp_uncomp.dat"), which it creates beside every target, and
// no more than kWindowsPathLimit - kRoomRequired characters below the
// installation folder.
void CheckCarriablePath(const std::string& path);

// Whether a file name (no folder) is one of the patcher's temporary files,
// "new.dat", "undiff.dat" and "tmp_uncomp.dat", in any case.
bool IsPatcherTemporaryName(const std::string& name);
