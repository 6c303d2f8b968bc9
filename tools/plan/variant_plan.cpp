#include "tools/plan/variant_plan.h"

#include <map>
#include <set>
#include <string>

#include "tools/common/authoring_error.h"
#include "tools/tree/paths.h"

namespace {

// The patcher adds files before it deletes any, and a folder is never
// removed, so a path that is a file in one version and a folder in the
// other cannot be patched. Compared without case, as Windows does.
void CheckFileFolderClash(const Variant& v) {
  auto folded_folders = [](const FileTree& tree) {
    std::set<std::string> folded;
    for (const auto& folder : FoldersOf(tree)) folded.insert(FoldCase(folder));
    return folded;
  };
  const std::set<std::string> old_folders = folded_folders(v.old_tree), new_folders = folded_folders(v.new_tree);
  for (const auto& entry : v.new_tree.files)
    if (old_folders.count(FoldCase(entry.first)))
      throw AuthoringError("a folder of the old version is a file in the new one: " + entry.first);
  for (const auto& entry : v.old_tree.files)
    if (new_folders.count(FoldCase(entry.first)))
      throw AuthoringError("a file of the old version is a folder in the new one: " + entry.first);
}

// A file the patch adds, or a folder it makes for one, under a name of the
// form of a short name ("DATA~1.PAK"): on a volume that keeps short names it
// may be the short name of another file or folder of the installation, which
// the patcher would then remove to make room for it (or write into).
// Names the old version already has are that file's own.
void CheckShortNameForms(const Variant& v, const VariantPlan& plan) {
  std::set<std::string> old_names;
  for (const auto& entry : v.old_tree.files) old_names.insert(FoldCase(entry.first));
  for (const auto& folder : FoldersOf(v.old_tree)) old_names.insert(FoldCase(folder));
  for (const auto& [key, change] : plan.changes) {
    if (change.kind != Added || change.old_file != nullptr) continue;
    for (size_t start = 1; start <= change.path.size();) {
      size_t end = change.path.find('/', start);
      if (end == std::string::npos) end = change.path.size();
      const std::string prefix = change.path.substr(0, end);
      if (!old_names.count(FoldCase(prefix)) && HasShortNameForm(change.path.substr(start, end - start)))
        throw AuthoringError("the new name " + prefix + " of " + v.name + " has the form of a short (8.3) name, "
                             "which Windows may have given another file or folder of the installation; the patcher "
                             "would remove that one to make room for it: rename it");
      start = end + 1;
    }
  }
}

// The old tree's files by FoldCase key, with the path as the old tree spells it.
using OldFiles = std::map<std::string, const std::pair<const std::string, TreeFile>*>;

OldFiles OldFilesByKey(const Variant& v) {
  OldFiles old_by_key;
  for (const auto& entry : v.old_tree.files) old_by_key.emplace(FoldCase(entry.first), &entry);
  return old_by_key;
}

// The bytes of the files whose bytes are compared: those of the same size
// in both trees.
uint64_t BytesToCompare(const Variant& v, const OldFiles& old_by_key) {
  uint64_t to_compare = 0;
  for (const auto& [path, file] : v.new_tree.files) {
    const auto old = old_by_key.find(FoldCase(path));
    if (old != old_by_key.end() && old->second->second.size() == file.size()) to_compare += file.size();
  }
  return to_compare;
}

// The change of a file whose bytes differ: an update, or one written whole
// as an added entry where the patcher could not recognise or read it.
Change UpdateOf(const std::string& path, const TreeFile& old_file, const TreeFile& file) {
  Change change{Updated, path, &old_file, &file, ""};
  if (file.size() == 0) {
    change.written_whole = "the new file is empty";
  } else if (old_file.size() >= kFileSizeLimit) {
    change.written_whole = "the old file is too large to be read";
  } else if (old_file.size() == file.size() && old_file.Crc() == file.Crc()) {
    change.written_whole = "old and new file have the same size and checksum";
  }
  if (!change.written_whole.empty()) change.kind = Added;
  return change;
}

// The new tree's files: added, updated or unchanged.
void PlanNewFiles(const Variant& v, const OldFiles& old_by_key,
                  const std::function<void(const BuildProgress&)>& progress, size_t index, size_t count,
                  VariantPlan& plan) {
  uint64_t compared = 0;
  const uint64_t to_compare = progress ? BytesToCompare(v, old_by_key) : 0;
  for (const auto& [path, file] : v.new_tree.files) {
    const std::string key = FoldCase(path);
    const auto old = old_by_key.find(key);
    if (progress && old != old_by_key.end() && old->second->second.size() == file.size()) {
      progress({"comparing", path, index, count, compared, to_compare});
      compared += file.size();
    }
    if (old == old_by_key.end()) {
      plan.changes[key] = {Added, path, nullptr, &file, ""};
      continue;
    }
    if (!SameOnEveryVolume(old->second->first, path))
      throw AuthoringError("a name changes in the case of a letter beyond A-Z, which Windows' file systems do "
                           "not all compare alike: " + old->second->first + " in the old version, " + path +
                           " in the new one of " + v.name + " (keep the old spelling)");
    const TreeFile& old_file = old->second->second;
    if (old_file.SameBytes(file)) {
      ++plan.unchanged_files;
      plan.unchanged_bytes += file.size();
      if (old->second->first != path) plan.names_kept.emplace_back(old->second->first, path);
      continue;
    }
    plan.changes[key] = UpdateOf(path, old_file, file);
  }
}

// The old tree's files that the new one lacks.
void PlanDeletions(const Variant& v, const OldFiles& old_by_key, VariantPlan& plan) {
  std::set<std::string> new_keys;
  for (const auto& entry : v.new_tree.files) new_keys.insert(FoldCase(entry.first));
  for (const auto& [key, entry] : old_by_key)
    if (!new_keys.count(key)) plan.changes[key] = {Deleted, entry->first, &entry->second, nullptr, ""};
}

// The folders that stay behind, and the new empty folders the patch cannot
// make.
void PlanFolders(const Variant& v, VariantPlan& plan) {
  std::set<std::string> new_folders, old_folders, filled;
  for (const auto& folder : FoldersOf(v.new_tree)) new_folders.insert(FoldCase(folder));
  for (const auto& folder : FoldersOf(v.old_tree)) {
    old_folders.insert(FoldCase(folder));
    if (!new_folders.count(FoldCase(folder))) plan.folders_left.push_back(folder);
  }
  const FileTree files_only{v.new_tree.files, {}};
  for (const auto& folder : FoldersOf(files_only)) filled.insert(FoldCase(folder));
  for (const auto& folder : v.new_tree.folders)
    if (!filled.count(FoldCase(folder)) && !old_folders.count(FoldCase(folder)))
      plan.folders_not_made.push_back(folder);
}

}  // namespace

VariantPlan PlanVariant(const Variant& v, const std::function<void(const BuildProgress&)>& progress, size_t index,
                        size_t count) {
  VariantPlan plan;
  const OldFiles old_by_key = OldFilesByKey(v);
  PlanNewFiles(v, old_by_key, progress, index, count, plan);
  CheckShortNameForms(v, plan);
  PlanDeletions(v, old_by_key, plan);
  PlanFolders(v, plan);
  return plan;
}

std::vector<VariantPlan> PlanVariants(const std::vector<Variant>& variants,
                                      const std::function<void(const BuildProgress&)>& progress) {
  std::vector<VariantPlan> plans;
  for (const auto& v : variants) {
    for (const FileTree* tree : {&v.old_tree, &v.new_tree}) {
      for (const auto& entry : tree->files) CheckCarriablePath(entry.first);
      for (const auto& folder : tree->folders) CheckCarriablePath(folder);
    }
    CheckFileFolderClash(v);
    plans.push_back(PlanVariant(v, progress, plans.size() + 1, variants.size()));
  }
  return plans;
}

void CheckSomethingToPatch(const std::vector<VariantPlan>& plans) {
  for (const auto& plan : plans)
    if (!plan.changes.empty()) return;
  // New empty folders alone make no patch: the patcher makes folders only
  // for the files it writes.
  std::string folders;
  for (const auto& plan : plans)
    for (const auto& folder : plan.folders_not_made) folders += (folders.empty() ? "" : ", ") + folder;
  if (folders.empty()) throw AuthoringError("old and new installation are identical: nothing to patch");
  throw AuthoringError("old and new installation have identical files: nothing to patch (the patcher makes "
                       "folders only for files, so the new empty folders " + folders + " cannot be made)");
}

void CheckSizeLimits(const Change& change) {
  if (change.kind == Deleted) return;
  // A file written whole needs only its new version read by the patcher;
  // one rebuilt from a diff, both.
  const bool old_read = change.kind == Updated;
  if (change.new_file->size() < kFileSizeLimit && !(old_read && change.old_file->size() >= kFileSizeLimit)) return;
  // An updated file is one the old tree has, whether rebuilt or written whole.
  const std::string what = change.old_file == nullptr
                               ? "the added file " + change.path + " is " + SizeText(change.new_file->size())
                               : "the updated file " + change.path + " is " + SizeText(change.old_file->size()) +
                                     " in the old version and " + SizeText(change.new_file->size()) + " in the new one";
  throw AuthoringError(what + ", and the patcher reads and writes only files below 2 GiB (files of any size that do " +
                       "not change are left alone)");
}

const Change* ChangeAt(const VariantPlan& plan, const std::string& key) {
  const auto found = plan.changes.find(key);
  return found == plan.changes.end() ? nullptr : &found->second;
}
