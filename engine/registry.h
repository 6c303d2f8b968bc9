#pragma once
// The installation's registry values below HKEY_LOCAL_MACHINE. Every key is
// opened with full access; nothing is raised or shown, a failure reads as
// empty text or writes nothing (and says so).
#include "manifest/patch_manifest.h"
#include "manifest/text.h"

// At most 1024 bytes of value data (any type, taken as they come), up to the
// first zero byte, with %NAME% references expanded. Empty when the location
// is empty, cannot be opened or read, or the data are longer.
NarrowText ReadRegistryText(const RegValue& location);

// The same through the UTF-16 calls: key and value converted from UTF-8, at
// most 512 units of data.
WideText ReadRegistryTextWide(const RegValue& location);

enum class RegistryWrite {
  kStored,  // the location held text and now holds `text`
  kNoText,  // the key or value is absent, empty or longer than can be read: nothing was written
  kFailed,  // the location holds text, or reading it failed otherwise, and nothing was written
};

// Stores `text` as REG_SZ (its bytes and one zero byte), only where the
// location already holds non-empty text as ReadRegistryText reads it.
RegistryWrite WriteRegistryText(const RegValue& location, const NarrowText& text);
