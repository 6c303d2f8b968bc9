#pragma once
// Read-only views of the "DATA" resources the patcher carries: its main
// manifest, its pack documents and its payloads.
#include <cstdint>

// Points into the loaded executable image: never copied, written or freed,
// valid until the process ends. The bytes have no terminating NUL.
struct DataResource {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
};

// Finds the "DATA" resource with the low 16 bits of `id`. Raises
// InternalError "Cannot find resource", "Cannot get resource length" (an
// empty resource), "Cannot load resource" or "Cannot lock resource".
DataResource LoadDataResource(int id);

constexpr int kMainManifestId = 5001;
