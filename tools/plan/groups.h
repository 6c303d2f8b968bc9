#pragma once
// Which groups a patch has. Every path's change is looked at in every
// variant: a change all variants need alike goes into the group for
// everyone; one that differs between them goes into groups keyed by a file
// whose checksums tell apart the variants that need different things
// (tools/plan/key_files.h chooses the files), so that the patcher's group
// selection gives each installation exactly the entries it needs, on its
// first run and on every run after an interruption. Paths whose variants
// split the same way under the same key file share its groups; a change
// that several groups carry travels once, its payload named by each.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/plan/authoring.h"
#include "tools/plan/payloads.h"

// One group of the patch as planned: unfiltered (for everyone) or keyed by a
// file that the patcher's group selection compares with `crc` and `crc2`.
struct PlannedGroup {
  bool filtered = false;
  std::string name;
  std::string key;  // the key file as the old trees spell it ("/qtr.exe")
  uint32_t crc = 0, crc2 = 0;
  std::vector<size_t> variants;        // the variants whose installations select it, ascending
  std::vector<const Change*> changes;  // its entries: Added, then Updated, then Deleted
};

struct GroupPlan {
  std::vector<PlannedGroup> groups;  // in the main manifest's order
  std::vector<KeyRead> keys;         // every key file named, in order of first use
  std::set<std::string> common;      // the paths (FoldCase) every variant changes alike
};

// Factors the variants' changes (`plans[i]` for `variants[i]`) into groups,
// keyed by files among `key_files` (relative to the installation; empty:
// every file of the old trees). Raises AuthoringError, naming the paths and
// variants, when no choice of key files can give every variant exactly its
// changes, and for a key file named that no old tree has. `progress` (may
// be empty) hears of the key files weighed.
GroupPlan FactorGroups(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                       const std::vector<std::string>& key_files,
                       const std::function<void(const BuildProgress&)>& progress);

// The paths (FoldCase) every variant changes alike.
std::set<std::string> CommonPaths(const std::vector<VariantPlan>& plans);

// Appends the planned groups to `documents`, each with a pack id and its
// entries with their payload ids (one payload for each distinct change,
// whichever groups carry it), and records in `patch` which variants select
// each group and what they read of the key files. Returns the entries whose
// payloads are to be made and, after them, `copies`: entries that name a
// payload made for another, whose figures are copied from it once made.
// Raises AuthoringError when the patch needs more resources than ids
// 5001..65535 hold.
struct PayloadCopy {
  size_t group, file;            // the entry that names the payload
  size_t from_group, from_file;  // the entry whose payload it is
};
std::vector<PayloadJob> FormGroups(const GroupPlan& plan, BuiltPatch& patch, std::vector<PayloadCopy>& copies);

// Fills every copy's sizes, checksums and payload figures from the entry it
// names.
void CopyPayloadFigures(const std::vector<PayloadCopy>& copies, AuthoredPatch& documents);
