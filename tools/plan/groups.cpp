#include "tools/plan/groups.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

#include "tools/common/authoring_error.h"
#include "tools/plan/key_files.h"
#include "tools/plan/variant_plan.h"
#include "tools/tree/paths.h"

namespace {

bool SameChange(const Change& a, const Change& b) {
  if (a.kind != b.kind || a.path != b.path) return false;
  if (a.kind == Deleted) return true;
  if (a.kind == Updated && !a.old_file->SameBytes(*b.old_file)) return false;
  return a.new_file->SameBytes(*b.new_file);
}

// One path's changes in classes: the variants of one class need the same
// change; class 0 needs none.
struct PathClasses {
  std::string key;                    // FoldCase
  std::vector<int> of;                // the class of each variant
  std::vector<const Change*> change;  // by class; [0] is null
};

PathClasses ClassifyPath(const std::vector<VariantPlan>& plans, const std::string& key) {
  PathClasses path{key, std::vector<int>(plans.size(), kNoChange), {nullptr}};
  for (size_t v = 0; v < plans.size(); ++v) {
    const Change* change = ChangeAt(plans[v], key);
    if (change == nullptr) continue;
    size_t c = 1;
    while (c < path.change.size() && !SameChange(*path.change[c], *change)) ++c;
    if (c == path.change.size()) path.change.push_back(change);
    path.of[v] = static_cast<int>(c);
  }
  return path;
}

bool ForEveryone(const PathClasses& path) {
  return std::all_of(path.of.begin(), path.of.end(), [](int c) { return c == 1; });
}

// Paths that split the variants the same way, each way once.
std::vector<Partition> PartitionsOf(const std::vector<PathClasses>& split) {
  std::map<std::vector<int>, size_t> index;
  std::vector<Partition> partitions;
  for (size_t p = 0; p < split.size(); ++p) {
    const auto [at, added] = index.emplace(split[p].of, partitions.size());
    if (added) partitions.push_back({split[p].of, {}});
    partitions[at->second].paths.push_back(p);
  }
  return partitions;
}

std::string NamesOf(const std::vector<Variant>& variants, const std::vector<size_t>& which) {
  std::string names;
  for (size_t v : which) names += (names.empty() ? "" : ", ") + variants[v].name;
  return names;
}

// "/data/x.dat: updated one way in a, b; another way in c; left alone in d".
std::string DescribeSplit(const std::vector<Variant>& variants, const PathClasses& path) {
  std::string text = path.change[1]->path + ":";
  std::vector<std::string> kinds_seen;
  for (size_t c = 1; c < path.change.size(); ++c) {
    std::vector<size_t> members;
    for (size_t v = 0; v < path.of.size(); ++v)
      if (path.of[v] == static_cast<int>(c)) members.push_back(v);
    const std::string kind = KindName(path.change[c]->kind);
    const bool again = std::count(kinds_seen.begin(), kinds_seen.end(), kind) > 0;
    kinds_seen.push_back(kind);
    text += std::string(c > 1 ? ";" : "") + " " + kind + (again ? " another way" : "") + " in " +
            NamesOf(variants, members);
  }
  std::vector<size_t> alone;
  for (size_t v = 0; v < path.of.size(); ++v)
    if (path.of[v] == kNoChange) alone.push_back(v);
  if (!alone.empty()) text += "; left alone in " + NamesOf(variants, alone);
  return text;
}

[[noreturn]] void RefuseUnserved(const std::vector<Variant>& variants, const std::vector<PathClasses>& split,
                                 const std::vector<Partition>& partitions, const std::vector<KeyOption>& options,
                                 const std::vector<std::string>& key_files) {
  std::string paths;
  size_t listed = 0, unserved = 0;
  for (size_t p = 0; p < partitions.size(); ++p) {
    const bool served = std::any_of(options.begin(), options.end(), [p](const KeyOption& o) { return o.serves[p]; });
    if (served) continue;
    for (size_t path : partitions[p].paths) {
      ++unserved;
      if (listed++ < 5) paths += "\n  " + DescribeSplit(variants, split[path]);
    }
  }
  if (unserved > 5) paths += "\n  and " + std::to_string(unserved - 5) + " more";
  const std::string among = key_files.empty() ? "no file of the old trees" : "none of the key files named";
  throw AuthoringError("the variants differ but " + among + " tells apart those that need different changes of " +
                       std::to_string(unserved) + " path(s): a key file's checksum, old or new, must set them apart, " +
                       "and no installation may ever show a checksum of another's" + paths);
}

// Each partition goes to the chosen option that serves it with the fewest
// groups.
std::vector<size_t> Assign(const std::vector<KeyOption>& options, const std::vector<size_t>& chosen,
                           const std::vector<Partition>& partitions) {
  std::vector<size_t> assigned(partitions.size());
  for (size_t p = 0; p < partitions.size(); ++p) {
    std::optional<size_t> best;
    size_t best_sets = 0;
    for (size_t i : chosen) {
      if (!options[i].serves[p]) continue;
      const size_t sets = SetsUsed(options[i].sets, partitions[p]).size();
      if (!best || sets < best_sets) {
        best = i;
        best_sets = sets;
      }
    }
    assigned[p] = *best;
  }
  return assigned;
}

// Added, then Updated, then Deleted, each by path; the deletion of the
// group's own key file comes last of all, so that every other entry of the
// group is done before a rerun would stop selecting it.
void OrderEntries(PlannedGroup& group) {
  const std::string own_key = FoldCase(group.key);
  std::stable_sort(group.changes.begin(), group.changes.end(), [&own_key](const Change* a, const Change* b) {
    if (a->kind != b->kind) return a->kind < b->kind;
    const bool a_last = a->kind == Deleted && FoldCase(a->path) == own_key;
    const bool b_last = b->kind == Deleted && FoldCase(b->path) == own_key;
    if (a_last != b_last) return b_last;
    return a->path < b->path;
  });
}

struct Factored {
  GroupPlan plan;
  // For each keyed group, the groups that must come after it: those that
  // delete or empty its key file in a variant it selects.
  std::vector<std::set<size_t>> before;
  // For each group, the option of its key file (the group for everyone: 0),
  // so that a key file's groups stand together.
  std::vector<size_t> key_of;
};

PlannedGroup KeyedGroup(const std::vector<Variant>& variants, const KeySets::Set& set) {
  PlannedGroup g;
  g.filtered = true;
  g.variants = set.variants;
  g.name = NamesOf(variants, set.variants);
  g.key = set.spelled;
  g.crc = set.crc;
  g.crc2 = set.crc2;
  return g;
}

Factored BuildGroups(const std::vector<Variant>& variants, const std::vector<PathClasses>& common,
                     const std::vector<PathClasses>& split, const std::vector<Partition>& partitions,
                     const std::vector<KeyOption>& options, const std::vector<size_t>& assigned) {
  Factored out;
  PlannedGroup everyone;
  for (const PathClasses& path : common) everyone.changes.push_back(path.change[1]);
  if (!everyone.changes.empty()) {
    for (size_t v = 0; v < variants.size(); ++v) everyone.variants.push_back(v);
    out.plan.groups.push_back(std::move(everyone));
    out.key_of.push_back(0);
  }
  std::map<std::pair<size_t, size_t>, size_t> group_of;     // (option, set) -> group
  std::map<std::pair<size_t, std::string>, size_t> holder;  // (variant, path key) -> group holding its change
  for (size_t p = 0; p < partitions.size(); ++p) {
    const KeyOption& option = options[assigned[p]];
    for (size_t s : SetsUsed(option.sets, partitions[p])) {
      const KeySets::Set& set = option.sets.sets[s];
      const auto [at, added] = group_of.emplace(std::make_pair(assigned[p], s), out.plan.groups.size());
      if (added) {
        out.plan.groups.push_back(KeyedGroup(variants, set));
        out.key_of.push_back(assigned[p]);
      }
      const int c = partitions[p].of[set.variants.front()];
      for (size_t path : partitions[p].paths) {
        out.plan.groups[at->second].changes.push_back(split[path].change[c]);
        for (size_t v : set.variants) holder[{v, split[path].key}] = at->second;
      }
    }
  }
  for (size_t g = 0; g < out.plan.groups.size(); ++g) OrderEntries(out.plan.groups[g]);
  out.before.resize(out.plan.groups.size());
  for (const auto& [option_set, g] : group_of) {
    const KeyOption& option = options[option_set.first];
    for (size_t v : option.sets.sets[option_set.second].vanishing) {
      const auto found = holder.find({v, option.key});
      const size_t deleting = found != holder.end() ? found->second : 0;  // else the group for everyone
      if (deleting != g) out.before[g].insert(deleting);
    }
  }
  return out;
}

// Orders the groups: the group for everyone first and the keyed ones by the
// first variant they select, unless a group deletes or empties another's key
// file, which must then come after it.
void OrderGroups(Factored& factored) {
  std::vector<PlannedGroup>& groups = factored.plan.groups;
  const size_t n = groups.size();
  std::vector<size_t> waiting(n, 0);
  for (size_t g = 0; g < n; ++g)
    for (size_t later : factored.before[g]) ++waiting[later];
  auto rank = [&](size_t g) {
    return std::make_tuple(groups[g].filtered, factored.key_of[g], groups[g].variants.front());
  };
  std::vector<size_t> order;
  std::vector<bool> placed(n, false);
  while (order.size() < n) {
    std::optional<size_t> next;
    for (size_t g = 0; g < n; ++g)
      if (!placed[g] && waiting[g] == 0 && (!next || rank(g) < rank(*next))) next = g;
    if (!next)
      throw AuthoringError(
          "the key files chosen are deleted by one another's groups, so no order of the groups "
          "keeps every run after an interruption selecting them: name other key files with "
          "--key-file");
    placed[*next] = true;
    order.push_back(*next);
    for (size_t later : factored.before[*next]) --waiting[later];
  }
  std::vector<PlannedGroup> ordered;
  for (size_t g : order) ordered.push_back(std::move(groups[g]));
  groups = std::move(ordered);
}

void NoteKeyReads(const std::vector<KeyOption>& options, GroupPlan& plan) {
  for (const PlannedGroup& g : plan.groups) {
    if (!g.filtered) continue;
    const bool named =
        std::any_of(plan.keys.begin(), plan.keys.end(), [&g](const KeyRead& k) { return k.key == g.key; });
    if (named) continue;
    for (const KeyOption& o : options)
      if (o.key == FoldCase(g.key)) plan.keys.push_back({g.key, o.bytes});
  }
}

// Ids: 5001 for the main manifest, then each group's pack document followed
// by one id per payload its Added and Updated entries name first.
void CheckResourceCount(const GroupPlan& plan) {
  std::set<const Change*> payloads;
  for (const PlannedGroup& g : plan.groups)
    for (const Change* change : g.changes)
      if (change->kind != Deleted) payloads.insert(change);
  const size_t needed = 1 + plan.groups.size() + payloads.size();
  if (kFirstResourceId + needed - 1 > kLastResourceId)
    throw AuthoringError("the patch needs " + std::to_string(needed) + " resources, more than ids 5001..65535 hold");
}

AuthoredGroup DocumentOf(const PlannedGroup& planned) {
  AuthoredGroup g;
  g.filtered = planned.filtered;
  g.name = planned.name;
  if (planned.filtered) {
    g.filename = planned.key.substr(1);
    g.crc = planned.crc;
    g.crc2 = planned.crc2;
  }
  return g;
}

}  // namespace

GroupPlan FactorGroups(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                       const std::vector<std::string>& key_files,
                       const std::function<void(const BuildProgress&)>& progress) {
  std::set<std::string> keys;
  for (const VariantPlan& plan : plans)
    for (const auto& entry : plan.changes) keys.insert(entry.first);
  std::vector<PathClasses> common, split;
  std::set<std::string> split_keys;
  for (const std::string& key : keys) {
    PathClasses path = ClassifyPath(plans, key);
    if (!ForEveryone(path)) split_keys.insert(key);
    (ForEveryone(path) ? common : split).push_back(std::move(path));
  }
  const std::vector<Partition> partitions = PartitionsOf(split);
  KeyChoice choice;
  if (!partitions.empty()) {
    choice = ChooseKeyFiles(variants, plans, partitions, split_keys, key_files, progress);
    if (choice.chosen.empty()) RefuseUnserved(variants, split, partitions, choice.options, key_files);
  }
  Factored factored = BuildGroups(variants, common, split, partitions, choice.options,
                                  Assign(choice.options, choice.chosen, partitions));
  OrderGroups(factored);
  NoteKeyReads(choice.options, factored.plan);
  for (const PathClasses& path : common) factored.plan.common.insert(path.key);
  return factored.plan;
}

std::set<std::string> CommonPaths(const std::vector<VariantPlan>& plans) {
  std::set<std::string> keys, common;
  for (const VariantPlan& plan : plans)
    for (const auto& entry : plan.changes) keys.insert(entry.first);
  for (const std::string& key : keys)
    if (ForEveryone(ClassifyPath(plans, key))) common.insert(key);
  return common;
}

std::vector<PayloadJob> FormGroups(const GroupPlan& plan, BuiltPatch& patch, std::vector<PayloadCopy>& copies) {
  CheckResourceCount(plan);
  int next_id = kFirstResourceId + 1;
  std::vector<PayloadJob> jobs;
  std::map<const Change*, std::pair<size_t, size_t>> made;  // change -> the entry whose payload carries it
  AuthoredPatch& documents = patch.documents;
  for (const PlannedGroup& planned : plan.groups) {
    const size_t group = documents.groups.size();
    AuthoredGroup g = DocumentOf(planned);
    g.pack_id = next_id++;
    for (const Change* change : planned.changes) {
      AuthoredFile f;
      f.kind = change->kind;
      f.subpath = change->path;
      if (change->kind != Deleted) {
        const auto [first, added] = made.emplace(change, std::make_pair(group, g.files.size()));
        if (added) {
          f.id = next_id++;
          jobs.push_back({group, g.files.size(), change});
        } else {
          copies.push_back({group, g.files.size(), first->second.first, first->second.second});
        }
      }
      g.files.push_back(f);
    }
    documents.groups.push_back(std::move(g));
    patch.selected_by.push_back(planned.variants);
  }
  patch.key_reads = plan.keys;
  return jobs;
}

void CopyPayloadFigures(const std::vector<PayloadCopy>& copies, AuthoredPatch& documents) {
  for (const PayloadCopy& copy : copies) {
    // The same change: the same path, kind, sizes, checksums and payload.
    documents.groups[copy.group].files[copy.file] = documents.groups[copy.from_group].files[copy.from_file];
  }
}
