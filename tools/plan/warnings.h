#pragma once
// What a studio should look at in a patch that can be made: trees that look
// paired with the wrong variant, paths near Windows' length limit, empty
// folders the patch cannot create.
#include <set>
#include <string>
#include <vector>

#include "tools/plan/authoring.h"

// A variant's new tree that keeps almost nothing of its old one, or whose
// own changes (those not in `common`) mostly restore another variant's old
// files, was probably paired with the wrong old tree.
void WarnOfPairing(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                   const std::set<std::string>& common, std::vector<std::string>& warnings);

// Paths the patch writes that fail below a long installation folder, and
// empty folders of the new versions that it does not create.
void WarnOfPaths(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                 std::vector<std::string>& warnings);
