#pragma once
// `qtr_author verify`: a built patch applied, as the patcher would apply it,
// to old installation trees, without touching them; each result compared
// with the edition's new tree where one is given.
#include <optional>
#include <string>
#include <vector>

#include "tools/file_tree.h"
#include "tools/patch_model.h"

struct Edition {
  std::string old_dir, new_dir;  // new_dir may be empty
  FileTree old_tree;
  std::optional<FileTree> new_tree;
};

struct EditionResult {
  RunResult run;
  RunResult rerun;                   // over the result, as after an interruption at the end
  std::vector<std::string> differences;  // "path: what", against the new tree
  bool ok() const;
};

std::vector<EditionResult> VerifyPatch(const PatchResources& resources, const std::vector<Edition>& editions);

std::string VerifyText(const std::vector<Edition>& editions, const std::vector<EditionResult>& results);
std::string VerifyJson(const std::vector<Edition>& editions, const std::vector<EditionResult>& results);
