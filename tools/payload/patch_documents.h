#pragma once
// The patch's XML documents as the patcher reads them: the main manifest
// (version range, registry locations, groups and their packs) and one pack
// document per group (the files it adds, updates and deletes).
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/file_patch.h"
#include "manifest/patch_manifest.h"

// An entry kind's name: the pack document's list that holds it ("added",
// "updated", "deleted"), also the tool's listings' word for it.
const char* KindName(int kind);
// The same, padded with spaces to eight characters, so that the paths after
// it line up in a listing.
std::string KindColumn(int kind);

// One file of a pack document. Sizes and checksums are numbers here; the
// documents carry them as decimal text and "%08lx" checksum text.
struct AuthoredFile {
  FilePatchKind kind = Added;
  std::string subpath;  // "/" separated, with a leading "/"
  uint32_t crc = 0;
  uint64_t size = 0;
  uint32_t crc_org = 0;
  uint64_t size_org = 0;
  int id = 0;  // payload resource (Added, Updated)
  bool comp = false;
  uint64_t comp_size = 0;
  bool diff = false;
  uint64_t diff_size = 0;
};

// A group with one pack whose root is empty. Unfiltered groups apply to
// every installation; a filtered one to those whose key file `filename` has
// the checksum `crc` (unpatched) or `crc2` (patched).
struct AuthoredGroup {
  bool filtered = false;
  std::string name;
  std::string filename;
  uint32_t crc = 0;
  uint32_t crc2 = 0;
  int pack_id = 0;
  std::vector<AuthoredFile> files;  // Added, then Updated, then Deleted

  // The disk space the group's payloads need while they are applied: every
  // entry's new size, plus its inflated diff where it has one, plus its
  // compressed payload where it has one.
  int64_t RequiredSpace() const;
};

struct AuthoredPatch {
  PatchManifest header;
  std::vector<AuthoredGroup> groups;
};

// The checksum text of a CRC-32: eight lower-case hex digits.
std::string ChecksumText(uint32_t crc);

// UTF-8 XML documents with an XML declaration; attribute values escaped.
std::string WriteMainManifest(const AuthoredPatch& patch);
std::string WritePackDocument(const AuthoredGroup& group);
