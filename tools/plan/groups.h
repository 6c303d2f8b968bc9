#pragma once
// Which groups a patch has and which file selects them: the changes every
// variant makes alike go into one group for everyone, each variant's own
// changes into a group of its own, selected by the checksum of a key file
// that tells the variants apart. The patcher applies every group whose key
// file matches.
#include <map>
#include <string>
#include <vector>

#include "tools/plan/authoring.h"
#include "tools/plan/payloads.h"

struct GroupedChanges {
  std::map<std::string, Change> common;            // by FoldCase key: the same change in every variant
  std::vector<std::map<std::string, Change>> own;  // per variant, by FoldCase key: the rest
  bool any_own = false;
};

// Splits the variants' changes into those for everyone and each variant's
// own.
GroupedChanges GroupChanges(const std::vector<VariantPlan>& plans);

// Chooses the key file (only when some variant has changes of its own:
// `requested`, relative to the installation, or else the first changed
// file that tells the variants apart, then any old file), checks that the
// resource ids suffice, and appends the groups to `documents`: the group
// for everyone, then each variant's, each with a pack id and its entries
// (Added, then Updated, then Deleted, each kind by path) with their payload
// ids. Returns the entries whose payloads are to be made. Raises
// AuthoringError when no file, or not the requested one, tells the
// variants apart (with `warnings` appended, which may say why: trees given
// to the wrong variants), or when the patch needs more resources than ids
// 5001..65535 hold.
std::vector<PayloadJob> FormGroups(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                                   const GroupedChanges& grouped, const std::string& requested,
                                   const std::vector<std::string>& warnings, AuthoredPatch& documents);
