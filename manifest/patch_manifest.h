#pragma once
// The main manifest's header: the version range and the four registry
// locations of the installation.
#include <cstddef>

#include "manifest/text.h"

// A registry location below HKEY_LOCAL_MACHINE, copied verbatim (UTF-8).
struct RegValue {
  NarrowText key;
  NarrowText value;
};

struct PatchManifest {
  NarrowText from;
  NarrowText to;
  RegValue reg_path;
  RegValue reg_version;
  RegValue reg_version2;
  RegValue reg_language;
};

// Parses a main manifest document of `length` bytes (no terminating NUL
// needed) and reads its header. Raises InternalError "Invalid main_xml" or
// "Cannot init regvalue from xml", checking in document-independent order:
// patch, version, from/to, then each registry element and its attributes.
PatchManifest ReadPatchManifest(const char* data, size_t length);

// The process-wide manifest, read from data resource 5001 on first use. A
// failed read raises and stores nothing, so a later call reads again.
const PatchManifest& GetPatchManifest();
