#pragma once
// What a built patch carries, read back from its resources with the
// patcher's own readers: versions, registry locations, groups and, per
// entry, kind, path, sizes, checksums and payload.
#include <string>
#include <vector>

#include "manifest/file_patch.h"
#include "manifest/patch_manifest.h"
#include "tools/model/patch_model.h"

struct PackContents {
  std::string root;
  int id = 0;
  FilePatchList entries;  // as the patcher reads them: Added, Updated, Deleted
  std::string fault;      // what the patcher would stop with when reading it, or empty
};

struct GroupContents {
  bool filtered = false;
  std::string name, filename, crc, crc2, required_space;
  std::vector<PackContents> packs;
};

struct PatchContents {
  PatchManifest header;
  std::vector<GroupContents> groups;
  // The key files the filtered groups name ("data/text.dat"), each once as
  // the patcher's checksum cache keeps them (exact spelling), in order of
  // first use: the patcher reads every one whole before it applies anything.
  std::vector<std::string> KeyFiles() const;
};

// Raises AuthoringError when the main manifest cannot be read as the
// patcher reads it; a faulty pack is reported in its `fault`.
PatchContents ReadPatchContents(const PatchResources& resources);

std::string InspectText(const PatchContents& contents, const PatchResources& resources);
std::string InspectJson(const PatchContents& contents, const PatchResources& resources);
