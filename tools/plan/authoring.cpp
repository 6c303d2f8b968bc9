#include "tools/plan/authoring.h"

#include <algorithm>
#include <set>

#include "engine/version.h"
#include "tools/common/authoring_error.h"
#include "tools/plan/groups.h"
#include "tools/plan/payloads.h"
#include "tools/plan/variant_plan.h"
#include "tools/plan/warnings.h"
#include "tools/tree/paths.h"

namespace {

bool HasControlCharacter(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; });
}

void CheckText(const std::string& what, const std::string& text) {
  if (HasControlCharacter(text) || !ValidUtf8(text))
    throw AuthoringError(what + " must be UTF-8 text without control characters");
}

// The versions, the registry locations and the variants' names, as the
// patcher and the documents can carry them.
void CheckHeaderAndNames(const std::vector<Variant>& variants, const PatchManifest& header) {
  if (variants.empty()) throw AuthoringError("no installation trees given");
  CheckVersions(header.from, header.to);
  for (const RegValue* r :
       {&header.reg_path, &header.reg_version, &header.reg_version2, &header.reg_language}) {
    if (r->key.empty() || r->value.empty()) throw AuthoringError("registry locations need a key and a value");
    CheckText("registry location", r->key);
    CheckText("registry location", r->value);
  }
  std::set<std::string> names;
  for (const auto& v : variants) {
    CheckText("variant name", v.name);
    if (variants.size() > 1 && !names.insert(v.name).second) throw AuthoringError("two variants named " + v.name);
  }
}

// Every file the patch carries, variant by variant.
void CheckSizeLimits(const std::vector<VariantPlan>& plans) {
  for (const VariantPlan& plan : plans)
    for (const auto& entry : plan.changes) CheckSizeLimits(entry.second);
}

// The groups and their key files. Trees given to the wrong variants share
// their key files' checksums: a refusal carries the warnings of such
// pairings, which may say why.
GroupPlan GroupsOf(const std::vector<Variant>& variants, BuiltPatch& patch, const BuildOptions& options) {
  try {
    GroupPlan groups = FactorGroups(variants, patch.plans, options.key_files, options.progress);
    WarnOfPairing(variants, patch.plans, groups.common, patch.warnings);
    return groups;
  } catch (const AuthoringError& e) {
    std::vector<std::string> warnings;
    WarnOfPairing(variants, patch.plans, CommonPaths(patch.plans), warnings);
    std::string hint;
    for (const auto& w : warnings) hint += "; " + w;
    throw AuthoringError(e.what() + hint);
  }
}

// The groups' documents and payloads.
void MakeGroups(const GroupPlan& groups, BuiltPatch& patch, const BuildOptions& options) {
  std::vector<PayloadCopy> copies;
  const std::vector<PayloadJob> jobs = FormGroups(groups, patch, copies);
  MakePayloads(jobs, patch, options);
  CopyPayloadFigures(copies, patch.documents);
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The pack documents and the main manifest beside the payloads, all in
// ascending order of id.
void AddDocuments(BuiltPatch& patch) {
  for (const auto& g : patch.documents.groups)
    patch.resources.push_back({static_cast<uint16_t>(g.pack_id), TextBytes(WritePackDocument(g))});
  patch.resources.push_back({static_cast<uint16_t>(kFirstResourceId), TextBytes(WriteMainManifest(patch.documents))});
  std::sort(patch.resources.begin(), patch.resources.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace

PatchManifest DefaultHeader(const std::string& from, const std::string& to) {
  PatchManifest header;
  header.from = from;
  header.to = to;
  header.reg_path = {"SOFTWARE\\Morrow\\QTR", "InstallDir"};
  header.reg_version = {"SOFTWARE\\Morrow\\QTR", "Version"};
  header.reg_version2 = {
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6D3A1F52-8B0C-4E57-9A21-0C7A5E1D0101}",
      "DisplayVersion"};
  header.reg_language = {"SOFTWARE\\Morrow\\QTR", "Lang"};
  return header;
}

void CheckVersions(const std::string& from, const std::string& to) {
  auto read = [](const std::string& text, const char* option) {
    const size_t dot = text.find('.');
    auto number = [](const std::string& digits, long limit) {
      if (digits.empty() || digits.size() > 5 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1L;
      const long value = std::stol(digits);
      return value < limit ? value : -1L;
    };
    if (dot == std::string::npos || number(text.substr(0, dot), 32768) < 0 ||
        number(text.substr(dot + 1), 65536) < 0)
      throw AuthoringError(std::string(option) + " " + text +
                           " is not a version: two numbers joined by a full stop, such as 1.00 (major below "
                           "32768, minor below 65536)");
    return ParseVersion(text);
  };
  const int32_t old_version = read(from, "--from");
  const int32_t new_version = read(to, "--to");
  auto spelled = [](int32_t version) {
    return std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF);
  };
  if (old_version == 0)
    throw AuthoringError("--from " + from + " reads as version 0.0, which the patcher takes for a damaged installation");
  if (new_version == old_version)
    throw AuthoringError("--from " + from + " and --to " + to + " are the same version for the patcher (both " +
                         spelled(old_version) + ": numbers, not texts, are compared); the patch would only ever "
                         "say it is already installed");
  if (new_version < old_version)
    throw AuthoringError("--to " + to + " is below --from " + from + " (" + spelled(new_version) + " < " +
                         spelled(old_version) + "); the patch would only ever say the game's version is higher");
}

std::vector<size_t> BuiltPatch::GroupsOf(size_t variant) const {
  std::vector<size_t> groups;
  for (size_t g = 0; g < selected_by.size(); ++g)
    if (std::binary_search(selected_by[g].begin(), selected_by[g].end(), variant)) groups.push_back(g);
  return groups;
}

uint64_t BuiltPatch::KeyBytesReadBy(size_t variant) const {
  uint64_t total = 0;
  for (const KeyRead& key : key_reads) total += key.bytes[variant];
  return total;
}

BuiltPatch BuildPatch(const std::vector<Variant>& variants, const PatchManifest& header,
                      const BuildOptions& options) {
  CheckHeaderAndNames(variants, header);
  BuiltPatch patch;
  patch.plans = PlanVariants(variants, options.progress);
  CheckSomethingToPatch(patch.plans);
  CheckSizeLimits(patch.plans);
  const GroupPlan groups = GroupsOf(variants, patch, options);
  patch.documents.header = header;
  MakeGroups(groups, patch, options);
  AddDocuments(patch);
  WarnOfPaths(variants, patch.plans, patch.warnings);
  return patch;
}
