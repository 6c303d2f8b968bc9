#pragma once
// Group selection: which groups of the main manifest apply to this
// installation, and the file plan built from their packs.
#include <cstdint>
#include <functional>
#include <vector>

#include "manifest/file_patch.h"
#include "manifest/pack_list.h"
#include "manifest/text.h"

// One key file whose checksum has been taken in this process.
struct ChecksumCacheEntry {
  WideText path;        // the key file's full path, normalised
  NarrowText checksum;  // its checksum text, or empty when taking it failed
};

// The process-wide cache: empty at start, only appended to, never cleared,
// so each distinct key path is read at most once per process.
std::vector<ChecksumCacheEntry>& ChecksumCache();

// Takes the checksum text of a whole file; false when the file cannot be
// opened or read or is empty. The patcher passes FileCrcText without
// progress reporting.
using FileChecksum = std::function<bool(const WideText& path, NarrowText& text)>;

// Reads the main manifest (resource 5001, through `load`), appends the
// entries of every group that applies to `list` in document order and
// returns the sum of those groups' `required_space`. `installationDirectory`
// is the registry's directory after NormalizePath with its leading separator
// kept. Raises InternalError "Invalid main_xml", "Invalid group filtering",
// "Bad patch.xml", or the messages of ReadSubPatch and the loader.
int64_t CollectFilePatches(FilePatchList& list, const WideText& installationDirectory,
                           const DataResourceLoader& load, const FileChecksum& checksum);

// The same over the patcher's own resources and files (Win32), the sum in
// `required`. False when a key file, or a replacement that may stand for
// one, is there but cannot be read: which groups apply cannot be told, and
// a group left out would leave its files unpatched.
bool CollectFilePatches(FilePatchList& list, const WideText& installationDirectory, int64_t& required);
