#pragma once
// What each variant's patch must do: its old and new tree matched path by
// path as Windows matches them, each path that differs a Change, and the
// checks of the trees and changes the patcher could not carry out.
#include <functional>
#include <vector>

#include "tools/plan/authoring.h"

// Every variant's plan, in order: each variant's paths are checked
// (CheckCarriablePath), a path that is a file in one version and a folder
// in the other is refused, then its trees are matched (PlanVariant).
// `progress` (may be empty) hears of the files compared.
std::vector<VariantPlan> PlanVariants(const std::vector<Variant>& variants,
                                      const std::function<void(const BuildProgress&)>& progress);

// Matches the old and new tree path by path, as the installation's file
// system finds them: a file whose name changed only in the case of A-Z is
// one file. A change of case beyond A-Z is refused: on a volume whose
// upcase table folds the letter the file would be left under its old name
// (or added and then deleted as the old one), on one that does not the
// patcher would find no file to update.
// `progress` (may be empty) hears of the comparison of files that have the
// same size in both trees, the only ones whose bytes are read: the
// variant's number of `count`, and the bytes compared so far.
VariantPlan PlanVariant(const Variant& v, const std::function<void(const BuildProgress&)>& progress, size_t index,
                        size_t count);

// The change `plan` makes to the path with FoldCase key `key`, or null.
const Change* ChangeAt(const VariantPlan& plan, const std::string& key);

// Raises AuthoringError when no variant changes a file: identical versions,
// or versions that differ only in empty folders, which the patcher cannot
// make.
void CheckSomethingToPatch(const std::vector<VariantPlan>& plans);

// Raises AuthoringError for a change whose files the patcher cannot read or
// write through its 32-bit readers.
void CheckSizeLimits(const Change& change);
