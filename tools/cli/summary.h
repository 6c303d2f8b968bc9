#pragma once
// What `qtr_author` tells a studio about the patch it made: per group the
// files it adds, updates and deletes with their bytes and payloads, per
// variant what stays unchanged and which folders stay behind, and warnings.
#include <string>
#include <vector>

#include "tools/plan/authoring.h"
#include "tools/plan/self_check.h"

struct SummaryOptions {
  bool list_files = true;  // a line per entry
  bool stats = false;      // the fuller table of each diff's figures
};

std::string SummaryText(const std::vector<Variant>& variants, const BuiltPatch& patch,
                        const std::vector<VariantCheck>& checks, const SummaryOptions& options);
std::string SummaryJson(const std::vector<Variant>& variants, const BuiltPatch& patch,
                        const std::vector<VariantCheck>& checks);
