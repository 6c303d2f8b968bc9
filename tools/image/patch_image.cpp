#include "tools/image/patch_image.h"

#include <algorithm>
#include <set>

#include "manifest/data_resource.h"
#include "tools/common/authoring_error.h"
#include "tools/image/pe_resources.h"

namespace {

constexpr uint16_t kDialogType = 5, kStringType = 6;
constexpr uint16_t kProgressDialog = 102;
// The string tables hold ids 200..225: blocks of 16 ids, numbered from 1.
constexpr uint16_t kFirstStringBlock = 200 / 16 + 1, kLastStringBlock = 225 / 16 + 1;
constexpr uint16_t kLanguages[] = {0x0407, 0x0409, 0x040A, 0x040C, 0x0410, 0x0411, 0x0415, 0x0419};

std::vector<ResourceEntry> Resources(const Bytes& image, const std::string& what) {
  try {
    return ReadPeResources(image);
  } catch (const AuthoringError& e) {
    throw AuthoringError(what + ": " + e.what());
  }
}

uint32_t Get16(const Bytes& b, size_t at) { return at + 2 <= b.size() ? b[at] | (b[at + 1] << 8) : 0; }

bool IsData(const ResourceEntry& r) { return !r.type.is_id && r.type.text == u"DATA"; }

// The build's version, e.g. "1.0.0": digits and dots, at most 32 of them.
std::string VersionText(const Bytes& data) {
  const std::string text(data.begin(), data.end());
  const bool plain = !text.empty() && text.size() <= 32 && text.find_first_not_of("0123456789.") == std::string::npos;
  return plain ? text : "";
}

}  // namespace

StubPatcher CheckStubPatcher(const Bytes& stub) {
  const std::vector<ResourceEntry> resources = Resources(stub, "stub executable");
  const size_t pe = stub.size() >= 0x40 ? (stub[0x3C] | (stub[0x3D] << 8) | (stub[0x3E] << 16)) : 0;
  // The patcher ships for i386; its x86_64 build serves tests on machines
  // that run no 32-bit code.
  const uint32_t machine = Get16(stub, pe + 4), magic = Get16(stub, pe + 24);
  const bool windows_gui = ((machine == 0x014C && magic == 0x10B) || (machine == 0x8664 && magic == 0x20B)) &&
                        Get16(stub, pe + 24 + 68) == 2;
  std::set<std::pair<uint16_t, uint16_t>> strings;  // (block, language)
  bool dialog = false;
  StubPatcher found{machine == 0x8664 ? "x86_64" : "i686", ""};
  for (const auto& r : resources) {
    if (IsData(r))
      throw AuthoringError("the stub patcher already carries DATA resources; use the stub build (qtr_patch_stub)");
    if (!r.type.is_id && r.type.text == u"QTRVERSION") found.version = VersionText(r.data);
    if (!r.type.is_id || !r.name.is_id) continue;
    if (r.type.id == kDialogType && r.name.id == kProgressDialog) dialog = true;
    if (r.type.id == kStringType) strings.insert({r.name.id, r.language});
  }
  bool tables = true;
  for (uint16_t block = kFirstStringBlock; block <= kLastStringBlock; ++block)
    for (const uint16_t language : kLanguages) tables = tables && strings.count({block, language});
  if (!windows_gui || !dialog || !tables)
    throw AuthoringError(
        "stub executable: not the stub patcher (a Windows GUI program with the patcher's progress dialog and "
        "its string tables in eight languages); build qtr_patch_stub");
  return found;
}

Bytes MakePatchExecutable(const Bytes& stub, const BuiltPatch& patch) {
  CheckStubPatcher(stub);
  Bytes image;
  try {
    image = AddDataResources(stub, patch.resources);
  } catch (const AuthoringError& e) {
    throw AuthoringError(std::string("stub executable: ") + e.what());
  }
  if (image.size() > kLoadableImage) {
    std::vector<PayloadSize> sizes;
    for (const auto& g : patch.documents.groups)
      for (const auto& f : g.files)
        for (const auto& r : patch.resources)
          if (f.kind != Deleted && r.first == f.id) sizes.push_back({f.subpath, r.second.size(), f.diff});
    throw AuthoringError("the patch executable would be " + SizeText(image.size()) + ", more than the " +
                         SizeText(kLoadableImage) + " a 32-bit process can be relied on to load: split the patch; " +
                         LargestPayloads(sizes));
  }
  size_t found = 0;
  for (const auto& r : Resources(image, "patch executable")) {
    if (!IsData(r)) continue;
    const auto want = std::find_if(patch.resources.begin(), patch.resources.end(),
                                   [&](const auto& p) { return r.name.is_id && p.first == r.name.id; });
    if (want == patch.resources.end() || want->second != r.data || r.language != 1033)
      throw AuthoringError("resource tree written wrongly; no patch written");
    ++found;
  }
  if (found != patch.resources.size()) throw AuthoringError("resource tree written wrongly; no patch written");
  return image;
}

PatchResources ReadPatchResources(const Bytes& image, const std::string& what) {
  PatchResources resources;
  for (auto& r : Resources(image, what))
    if (IsData(r) && r.name.is_id) resources.emplace(r.name.id, std::move(r.data));
  if (!resources.count(kMainManifestId))
    throw AuthoringError(what + ": no patch in it (no DATA resource " + std::to_string(kMainManifestId) + ")");
  return resources;
}
