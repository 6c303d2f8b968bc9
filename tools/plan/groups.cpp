#include "tools/plan/groups.h"

#include <algorithm>
#include <utility>

#include "tools/common/authoring_error.h"
#include "tools/tree/paths.h"

namespace {

bool SameChange(const Change& a, const Change& b) {
  if (a.kind != b.kind || a.path != b.path) return false;
  if (a.kind == Deleted) return true;
  if (a.kind == Updated && !a.old_file->SameBytes(*b.old_file)) return false;
  return a.new_file->SameBytes(*b.new_file);
}

// Each variant's old and new files by FoldCase key, for finding a path in
// any case.
struct VariantIndex {
  std::map<std::string, const TreeFile*> old_files, new_files;
};

std::vector<VariantIndex> IndexVariants(const std::vector<Variant>& variants) {
  std::vector<VariantIndex> index(variants.size());
  for (size_t i = 0; i < variants.size(); ++i) {
    for (const auto& entry : variants[i].old_tree.files) index[i].old_files[FoldCase(entry.first)] = &entry.second;
    for (const auto& entry : variants[i].new_tree.files) index[i].new_files[FoldCase(entry.first)] = &entry.second;
  }
  return index;
}

const TreeFile* Find(const std::map<std::string, const TreeFile*>& files, const std::string& path) {
  const auto found = files.find(FoldCase(path));
  return found == files.end() ? nullptr : found->second;
}

// `path` as `tree` spells it. The patcher looks the key file up by the name
// its group gives, and a letter beyond A-Z in another case may not find it.
std::string SpelledIn(const FileTree& tree, const std::string& path) {
  const std::string key = FoldCase(path);
  for (const auto& entry : tree.files)
    if (FoldCase(entry.first) == key) return entry.first;
  return path;
}

// Why `path` cannot tell the variants apart, or empty when it can: it must
// be in every old and new tree, non-empty and below 2 GiB, and no checksum
// it has in one variant (old or new) may be one it has in another.
std::string KeyFileProblem(const std::vector<Variant>& variants, const std::vector<VariantIndex>& index,
                           const std::string& path) {
  std::vector<std::pair<uint32_t, uint32_t>> sums;
  for (size_t i = 0; i < variants.size(); ++i) {
    const Variant& v = variants[i];
    std::pair<uint32_t, uint32_t> sum;
    for (const bool old : {true, false}) {
      const char* which = old ? "old" : "new";
      const TreeFile* found = Find(old ? index[i].old_files : index[i].new_files, path);
      if (found == nullptr) return "it is not in the " + std::string(which) + " tree of " + v.name;
      if (found->size() == 0)
        return "it is empty in the " + std::string(which) + " tree of " + v.name + ", and an empty file has no checksum";
      if (found->size() >= kFileSizeLimit)
        return "it is 2 GiB or more in the " + std::string(which) + " tree of " + v.name;
      (old ? sum.first : sum.second) = found->Crc();
    }
    sums.push_back(sum);
  }
  for (size_t i = 0; i < sums.size(); ++i)
    for (size_t j = i + 1; j < sums.size(); ++j) {
      const auto& a = sums[i];
      const auto& b = sums[j];
      if (a.first == b.first || a.first == b.second || a.second == b.first || a.second == b.second)
        return variants[i].name + " and " + variants[j].name + " share a checksum of it, old or new";
    }
  return "";
}

// "./bin\game.exe" and "/bin/game.exe" both name "/bin/game.exe".
std::string KeyFilePath(const std::string& requested) {
  std::string path = requested;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name == "..")
      throw AuthoringError("key file " + requested + " leaves the installation: name it relative to it");
    if (!name.empty() && name != ".") out += "/" + name;
    start = end + 1;
  }
  if (out.empty()) throw AuthoringError("key file " + requested + " names no file");
  return out;
}

std::string ChooseKeyFile(const std::vector<Variant>& variants, const std::vector<VariantIndex>& index,
                          const std::vector<VariantPlan>& plans, const std::string& requested) {
  if (!requested.empty()) {
    const std::string path = KeyFilePath(requested);
    const std::string problem = KeyFileProblem(variants, index, path);
    if (!problem.empty())
      throw AuthoringError("key file " + requested + " cannot tell the variants apart: " + problem +
                           " (the key file must be in every old and new tree, non-empty, with a different "
                           "checksum in each variant, old and new)");
    return path;
  }
  // Prefer the files the variants change on their own, then any old file.
  std::vector<std::string> candidates;
  for (const auto& plan : plans)
    for (const auto& entry : plan.changes) candidates.push_back(entry.second.path);
  std::sort(candidates.begin(), candidates.end());
  for (const auto& entry : variants[0].old_tree.files) candidates.push_back(entry.first);
  for (const auto& path : candidates)
    if (KeyFileProblem(variants, index, path).empty()) return path;
  throw AuthoringError(
      "the variants differ but no file tells them apart: a key file must be in every old and new tree, "
      "non-empty, with a different checksum in each variant, old and new");
}

// The key file, or empty when every change is for everyone. Trees given to
// the wrong editions share their key files' checksums: the warnings of
// such pairings are added to the refusal.
std::string KeyFileOf(const std::vector<Variant>& variants, const std::vector<VariantIndex>& index,
                      const std::vector<VariantPlan>& plans, const GroupedChanges& grouped,
                      const std::string& requested, const std::vector<std::string>& warnings) {
  try {
    return grouped.any_own ? ChooseKeyFile(variants, index, plans, requested) : "";
  } catch (const AuthoringError& e) {
    std::string hint;
    for (const auto& w : warnings) hint += "; " + w;
    throw AuthoringError(e.what() + hint);
  }
}

// Ids: 5001 for the main manifest, then each group's pack document followed
// by one id per payload of its Added and Updated entries.
void CheckResourceCount(const GroupedChanges& grouped) {
  size_t needed = 1, payloads = 0;
  auto count_group = [&](const std::map<std::string, Change>& group) {
    if (group.empty()) return;
    needed += 1;
    for (const auto& entry : group)
      if (entry.second.kind != Deleted) ++payloads;
  };
  count_group(grouped.common);
  for (const auto& o : grouped.own) count_group(o);
  needed += payloads;
  if (kFirstResourceId + needed - 1 > kLastResourceId)
    throw AuthoringError("the patch needs " + std::to_string(needed) + " resources, more than ids 5001..65535 hold");
}

// Appends group `g` holding `changes` (none: no group) with the next ids,
// and a job for each entry with a payload.
void AddGroup(const std::map<std::string, Change>& changes, AuthoredGroup g, int& next_id, AuthoredPatch& documents,
              std::vector<PayloadJob>& jobs) {
  if (changes.empty()) return;
  g.pack_id = next_id++;
  std::vector<const Change*> ordered;
  for (const auto& entry : changes) ordered.push_back(&entry.second);
  std::sort(ordered.begin(), ordered.end(), [](const Change* a, const Change* b) { return a->path < b->path; });
  for (FilePatchKind kind : {Added, Updated, Deleted}) {
    for (const Change* change : ordered) {
      if (change->kind != kind) continue;
      AuthoredFile f;
      f.kind = kind;
      f.subpath = change->path;
      if (kind != Deleted) {
        f.id = next_id++;
        jobs.push_back({documents.groups.size(), g.files.size(), change});
      }
      g.files.push_back(f);
    }
  }
  documents.groups.push_back(std::move(g));
}

}  // namespace

GroupedChanges GroupChanges(const std::vector<VariantPlan>& plans) {
  GroupedChanges grouped;
  for (const auto& [key, change] : plans[0].changes) {
    bool everywhere = true;
    for (size_t i = 1; i < plans.size() && everywhere; ++i) {
      const auto other = plans[i].changes.find(key);
      everywhere = other != plans[i].changes.end() && SameChange(change, other->second);
    }
    if (everywhere) grouped.common.emplace(key, change);
  }
  grouped.own.resize(plans.size());
  for (size_t i = 0; i < plans.size(); ++i)
    for (const auto& [key, change] : plans[i].changes)
      if (!grouped.common.count(key)) {
        grouped.own[i].emplace(key, change);
        grouped.any_own = true;
      }
  return grouped;
}

std::vector<PayloadJob> FormGroups(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                                   const GroupedChanges& grouped, const std::string& requested,
                                   const std::vector<std::string>& warnings, AuthoredPatch& documents) {
  const std::vector<VariantIndex> index = IndexVariants(variants);
  const std::string key = KeyFileOf(variants, index, plans, grouped, requested, warnings);
  CheckResourceCount(grouped);
  int next_id = kFirstResourceId + 1;
  std::vector<PayloadJob> jobs;
  AddGroup(grouped.common, AuthoredGroup(), next_id, documents, jobs);
  for (size_t i = 0; i < variants.size(); ++i) {
    AuthoredGroup g;
    g.filtered = true;
    g.name = variants[i].name;
    if (!key.empty()) {
      g.filename = SpelledIn(variants[i].old_tree, key).substr(1);
      g.crc = Find(index[i].old_files, key)->Crc();
      g.crc2 = Find(index[i].new_files, key)->Crc();
    }
    AddGroup(grouped.own[i], g, next_id, documents, jobs);
  }
  return jobs;
}
