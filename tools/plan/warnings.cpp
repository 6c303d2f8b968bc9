#include "tools/plan/warnings.h"

#include <set>

#include "tools/tree/paths.h"

void WarnOfPairing(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                   const std::set<std::string>& common, std::vector<std::string>& warnings) {
  for (size_t i = 0; i < variants.size(); ++i) {
    const size_t files = variants[i].new_tree.files.size();
    if (files >= 4 && plans[i].unchanged_files * 10 < files && !variants[i].old_tree.files.empty())
      warnings.push_back(variants[i].name + ": its new tree keeps only " + std::to_string(plans[i].unchanged_files) +
                         " of " + std::to_string(files) +
                         " files of its old tree unchanged: are --old and --new the same game?");
    size_t own_updates = 0;
    std::map<size_t, size_t> restored;  // other variant -> own updates that are its old file
    for (const auto& [key, change] : plans[i].changes) {
      if (change.kind != Updated || common.count(key)) continue;
      ++own_updates;
      for (size_t j = 0; j < variants.size(); ++j) {
        if (j == i) continue;
        const auto theirs = plans[j].changes.find(key);
        const TreeFile* their_old = theirs != plans[j].changes.end() ? theirs->second.old_file : nullptr;
        if (their_old != nullptr && their_old->SameBytes(*change.new_file)) ++restored[j];
      }
    }
    for (const auto& [j, count] : restored)
      if (count * 2 > own_updates)
        warnings.push_back(variants[i].name + ": " + std::to_string(count) + " of its " +
                           std::to_string(own_updates) + " own updated files become the old files of " +
                           variants[j].name + ": is its new tree " + variants[j].name + "'s?");
  }
}

void WarnOfPaths(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                 std::vector<std::string>& warnings) {
  std::set<std::string> long_paths;
  for (size_t i = 0; i < variants.size(); ++i) {
    for (const auto& entry : plans[i].changes)
      if (entry.second.kind != Deleted && PathLengthBelowFolder(entry.second.path) > kWindowsPathLimit - kRoomWarned)
        long_paths.insert(entry.second.path);
    for (const auto& folder : plans[i].folders_not_made)
      warnings.push_back(variants[i].name + ": the empty folder " + folder +
                         " of the new version is not created (the patcher makes folders only for files)");
  }
  for (const auto& path : long_paths)
    warnings.push_back("path of " + std::to_string(PathLengthBelowFolder(path)) +
                       " characters: it fails when the game is installed in a folder of more than " +
                       std::to_string(kWindowsPathLimit - PathLengthBelowFolder(path)) + " characters: " + path);
}
