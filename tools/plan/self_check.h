#pragma once
// The check every patch passes before it is written: the patcher's run,
// modelled over each variant's old tree, must rebuild its new tree exactly,
// and a second run over the result (as after an interruption just before
// the new version is recorded) must recognise every entry as done.
#include <map>
#include <string>
#include <vector>

#include "tools/model/patch_model.h"
#include "tools/plan/authoring.h"

// What rebuilding one file from its diff costs the patcher's reader.
struct DiffFigures {
  std::string path;
  ApplyCost cost;
};

struct VariantCheck {
  std::string name;
  RunResult run;
  std::vector<DiffFigures> diffs;
};

// The resources of a built patch by id.
PatchResources ResourcesOf(const BuiltPatch& patch);

// Raises AuthoringError naming the variant and the first file that would not
// be rebuilt, or the entry a rerun would stop at. `progress` (may be empty)
// hears of each variant's run: stage "self-check", the variant's number,
// the entry at work and the bytes the run has written.
std::vector<VariantCheck> SelfCheck(const BuiltPatch& patch, const std::vector<Variant>& variants,
                                    const std::function<void(const BuildProgress&)>& progress = nullptr);
