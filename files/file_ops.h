#pragma once
// Path and file operations on wide paths. Each reports success as a boolean
// and never raises or shows anything.
#include <cstdint>

#include "manifest/text.h"

// Split at the last "/" or "\": DirPart keeps the separator. Without any
// separator both return the whole path.
WideText DirPart(const WideText& path);
WideText NamePart(const WideText& path);

// True when a file or directory of that name exists.
bool PathExists(const WideText& path);

// True only when the file system answers that nothing of that name is there
// (no such file, no such folder on its way, a name no file can have); false
// when something is, or when the question could not be answered (access
// denied, a device error).
bool IsAbsent(const WideText& path);

// Whether `path` is a link: a reparse point through which whatever is done
// at or below it would happen elsewhere (a junction, a symbolic link, a
// mount point; CountsAsLink in files/reparse_point.h decides by its tag).
// Cloud placeholders, deduplicated and system-compressed files are not
// links. False when nothing is there.
bool IsLink(const WideText& path);
// Whether `path` is a folder or a link; false when nothing, a plain file or
// a file a filter driver keeps (a placeholder, say) is there.
bool IsFolderOrLink(const WideText& path);

// Opens the file for shared reading and takes its size; false (size left
// untouched) when it cannot be opened, e.g. while another process writes it.
bool GetFileSize64(const WideText& path, int64_t& size);

// Creates every missing level of `dir`, outermost first. Levels made before
// a failure stay. A path that begins with a separator loses it, unless it is
// a network path (\\server\share\...), whose levels start at the share. When
// the whole chain exists, that one test is all it costs.
bool CreateDirectoryChain(const WideText& dir);

// Silent, permanent removal (a directory with its contents) and renaming
// through the shell's file operation; true when the shell reports success.
// Deleting a missing path reports failure.
bool DeletePath(const WideText& path);
bool RenamePath(const WideText& from, const WideText& to);

// Removes a file the run is about to remove or replace, as the shell's file
// operation does on Windows when it asks no questions: Windows' shell answers
// its own question about a read-only file with Yes, Wine's refuses, so the
// read-only attribute is cleared right before the removal. True when the
// shell reports success.
bool RemoveTarget(const WideText& path);

// Makes sure nothing is left at `path` (a temporary file of an earlier run):
// DeletePath when something is there, and true when nothing is there
// afterwards. A name that is absent costs one existence test, not a shell
// operation.
bool RemoveLeftover(const WideText& path);
