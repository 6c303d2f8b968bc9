// The main manifest's header reader on arbitrary bytes: it either reads a
// record or raises the internal error, nothing else.
#include <cstdint>

#include "engine/internal_error.h"
#include "manifest/patch_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const PatchManifest m = ReadPatchManifest(reinterpret_cast<const char*>(data), size);
    if (m.reg_language.key.size() > size) __builtin_trap();
  } catch (const InternalError&) {
  }
  return 0;
}
