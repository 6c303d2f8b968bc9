#include <memory>

#include "manifest/data_resource.h"
#include "manifest/patch_manifest.h"

const PatchManifest& GetPatchManifest() {
  static std::unique_ptr<PatchManifest> manifest;
  if (!manifest) {
    const DataResource resource = LoadDataResource(kMainManifestId);
    manifest = std::make_unique<PatchManifest>(
        ReadPatchManifest(reinterpret_cast<const char*>(resource.data), resource.length));
  }
  return *manifest;
}
