#pragma once
// `qtr_author verify`: a built patch applied, as the patcher would apply it,
// to old installation trees, without touching them; each result compared
// with the edition's new tree where one is given.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/model/patch_model.h"
#include "tools/tree/file_tree.h"

struct Edition {
  std::string name;              // as --name gives it, or empty
  std::string old_dir, new_dir;  // new_dir may be empty
  FileTree old_tree;
  std::optional<FileTree> new_tree;
};

struct EditionResult {
  RunResult run;
  uint64_t key_bytes = 0;            // what the patcher reads of key files to select its groups
  RunResult rerun;                   // over the result, as after an interruption at the end
  std::vector<std::string> differences;  // "path: what", against the new tree
  bool ok() const;
};

// `progress` (may be empty) hears of each edition's run: the edition's
// number, the entry at work and the bytes the run has written.
using VerifyProgress =
    std::function<void(size_t edition, const std::string& path, uint64_t done, uint64_t total)>;
std::vector<EditionResult> VerifyPatch(const PatchResources& resources, const std::vector<Edition>& editions,
                                       const VerifyProgress& progress = nullptr);

std::string VerifyText(const std::vector<Edition>& editions, const std::vector<EditionResult>& results);
std::string VerifyJson(const std::vector<Edition>& editions, const std::vector<EditionResult>& results);
