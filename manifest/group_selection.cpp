#include "manifest/group_selection.h"

#include "engine/internal_error.h"
#include "files/file_ops.h"
#include "manifest/xml_document.h"

namespace {

// The cached checksum of `path`, taking it on first use.
const NarrowText& KeyFileChecksum(const WideText& path, const FileChecksum& checksum) {
  std::vector<ChecksumCacheEntry>& cache = ChecksumCache();
  for (const ChecksumCacheEntry& entry : cache) {
    if (entry.path == path) return entry.checksum;
  }
  NarrowText text;
  if (!checksum(path, text)) text.clear();
  cache.push_back({path, text});
  return cache.back().checksum;
}

// A run stopped between removing the key file and moving its verified
// replacement in leaves the key file missing and its patched bytes beside it,
// as "undiff.dat" (rebuilt from a diff) or "new.dat" (a whole file). Such a
// replacement with the patched checksum (`crc2`) stands for the key file, so
// the group applies and the pre-flight pass finishes the move; without this
// the group would be skipped and the run would end in success with the key
// file gone.
bool ReplacementIsPatchedKeyFile(const WideText& keyPath, const char* crc2, const FileChecksum& checksum) {
  for (const char16_t* name : {u"undiff.dat", u"new.dat"}) {
    const NarrowText& found = KeyFileChecksum(DirPart(keyPath) + name, checksum);
    if (!found.empty() && found == crc2) return true;
  }
  return false;
}

// Unfiltered groups always apply; a filtered one when its key file has the
// checksum before (`crc`) or after (`crc2`) patching.
bool GroupApplies(const TiXmlElement& group, const WideText& base_dir, const FileChecksum& checksum) {
  const char* name = group.Attribute("name");
  const char* filename = group.Attribute("filename");
  if (name == nullptr || filename == nullptr) return true;
  const char* crc = group.Attribute("crc");
  const char* crc2 = group.Attribute("crc2");
  if (crc == nullptr || crc2 == nullptr) RaiseInternalError("Invalid group filtering");
  const WideText keyPath = NormalizePath(base_dir + u"\\" + Utf8ToWide(filename), true);
  const NarrowText& found = KeyFileChecksum(keyPath, checksum);
  if (found.empty()) return ReplacementIsPatchedKeyFile(keyPath, crc2, checksum);
  return found == crc || found == crc2;
}

int64_t ReadGroup(const TiXmlElement& group, const WideText& base_dir, FilePatchList& list,
                  const DataResourceLoader& load) {
  const char* space = group.Attribute("required_space");
  if (space == nullptr) RaiseInternalError("Bad patch.xml");
  for (const TiXmlElement* pack = group.FirstChildElement("pack"); pack != nullptr;
       pack = pack->NextSiblingElement("pack")) {
    const char* root = pack->Attribute("root");
    const char* id = pack->Attribute("id");
    if (root == nullptr || id == nullptr) RaiseInternalError("Bad patch.xml");
    ReadSubPatch(ParseAtoi(id), NormalizePath(Utf8ToWide(root), false), base_dir, list, load);
  }
  return ParseInt64(space);
}

// Wrap-around addition: a manifest may hold any figures, and a sum outside
// 64 bits must not be undefined behaviour.
int64_t AddSpace(int64_t total, int64_t space) {
  return static_cast<int64_t>(static_cast<uint64_t>(total) + static_cast<uint64_t>(space));
}

}  // namespace

std::vector<ChecksumCacheEntry>& ChecksumCache() {
  static std::vector<ChecksumCacheEntry> cache;
  return cache;
}

int64_t CollectFilePatches(FilePatchList& list, const WideText& installationDirectory,
                           const DataResourceLoader& load, const FileChecksum& checksum) {
  const WideText base_dir = NormalizePath(installationDirectory, true) + u"\\";
  const DataResource manifest = load(kMainManifestId);
  TiXmlDocument document;
  ParseDocument(document, reinterpret_cast<const char*>(manifest.data), manifest.length);
  const TiXmlElement* patch = document.FirstChildElement("patch");
  if (patch == nullptr) RaiseInternalError("Invalid main_xml");

  int64_t total = 0;
  for (const TiXmlElement* group = patch->FirstChildElement("group"); group != nullptr;
       group = group->NextSiblingElement("group")) {
    if (!GroupApplies(*group, base_dir, checksum)) continue;
    total = AddSpace(total, ReadGroup(*group, base_dir, list, load));
  }
  return total;
}
