#include "tools/plan/key_files.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <optional>

#include "tools/common/authoring_error.h"
#include "tools/plan/variant_plan.h"
#include "tools/tree/paths.h"

namespace {

// A file that may key groups: its FoldCase key, how each old tree spells
// it and what reading it costs each variant's patcher.
struct Candidate {
  std::string key;
  std::string name;                  // the first spelling, for messages
  std::vector<std::string> spelled;  // by variant, empty where absent
  std::vector<uint64_t> bytes;       // by variant: its old size, 0 where absent
  uint64_t cost = 0;                 // over every variant
  // The order it is weighed in: 0 a path the variants change differently
  // (its checksums are taken anyway), 1 a file whose presence or size
  // differs between the variants, 2 one of the same size in every variant,
  // which only reading it can tell apart.
  int tier = 0;
};

// While weighing candidates of tier 2, the tool reads at most this many
// times what the best choice found so far has every player's patcher read.
constexpr uint64_t kTierTwoReading = 4;

// What group selection can find for a key file in one variant's
// installation, on the first run and on any run after an interruption.
struct KeyState {
  std::optional<uint32_t> first;    // none: missing or empty, which selects nothing
  std::vector<uint32_t> seen;       // every checksum any run may find for it, `first` included
  std::optional<uint32_t> becomes;  // the key file's own new checksum, where the patch updates it
  bool vanishes = false;            // the patch deletes it
  // An update written whole is an added entry, whose target the pre-flight
  // pass removes before any entry is applied: no order of the entries keeps
  // the key file's groups selected after an interruption.
  bool removed_first = false;
  // While it is missing: the checksums of replacements other entries of its
  // folder may have left, which group selection reads in its stead.
  std::vector<uint32_t> leftovers;
};

class TreeIndex {
 public:
  explicit TreeIndex(const std::vector<Variant>& variants) : old_(variants.size()), new_(variants.size()) {
    for (size_t v = 0; v < variants.size(); ++v) {
      for (const auto& [path, file] : variants[v].old_tree.files) old_[v].emplace(FoldCase(path), Named{&path, &file});
      for (const auto& [path, file] : variants[v].new_tree.files) new_[v].emplace(FoldCase(path), Named{&path, &file});
    }
  }
  struct Named {
    const std::string* path;
    const TreeFile* file;
  };
  const Named* Old(size_t v, const std::string& key) const { return Find(old_[v], key); }
  const Named* New(size_t v, const std::string& key) const { return Find(new_[v], key); }
  const std::map<std::string, Named>& OldFiles(size_t v) const { return old_[v]; }

 private:
  static const Named* Find(const std::map<std::string, Named>& files, const std::string& key) {
    const auto found = files.find(key);
    return found == files.end() ? nullptr : &found->second;
  }
  std::vector<std::map<std::string, Named>> old_, new_;
};

std::string FolderOf(const std::string& key) { return key.substr(0, key.rfind('/') + 1); }

// A run stopped while the key file is missing may leave the replacement an
// entry of its folder was writing ("new.dat", "undiff.dat"), which group
// selection then reads in its stead: the new checksums of the files the
// variant adds or updates there.
void AddLeftovers(const VariantPlan& plan, const std::string& key, std::vector<uint32_t>& seen) {
  const std::string folder = FolderOf(key);
  for (auto it = plan.changes.lower_bound(folder);
       it != plan.changes.end() && it->first.compare(0, folder.size(), folder) == 0; ++it) {
    const Change& change = it->second;
    if (change.kind == Deleted || change.new_file->size() == 0) continue;
    if (it->first.find('/', folder.size()) != std::string::npos) continue;  // a subfolder's
    seen.push_back(change.new_file->Crc());
  }
}

KeyState StateOf(const TreeIndex& trees, const VariantPlan& plan, size_t v, const std::string& key) {
  KeyState state;
  const TreeIndex::Named* old_file = trees.Old(v, key);
  if (old_file != nullptr && old_file->file->size() > 0) state.first = old_file->file->Crc();
  if (state.first) state.seen.push_back(*state.first);
  const Change* change = ChangeAt(plan, key);
  if (change != nullptr && change->kind == Deleted) state.vanishes = state.first.has_value();
  if (change != nullptr && change->kind == Added && old_file != nullptr) state.removed_first = true;
  if (change != nullptr && change->kind != Deleted && change->new_file->size() > 0) {
    const uint32_t now = change->new_file->Crc();
    state.seen.push_back(now);
    if (state.first && now != *state.first) state.becomes = now;
  }
  if (!state.first || state.vanishes || state.removed_first) AddLeftovers(plan, key, state.leftovers);
  std::sort(state.seen.begin(), state.seen.end());
  state.seen.erase(std::unique(state.seen.begin(), state.seen.end()), state.seen.end());
  return state;
}

// The groups one key file can key safely. Checksums any one installation
// may show for it are joined into one set; a set of at most two checksums is
// one group (`crc` and `crc2`), which selects exactly the variants whose key
// file has one of them on the first run and keeps selecting them on every
// later run. A set that a variant could show without being selected on the
// first run (a leftover replacement included), or of more checksums than a
// group compares, keys nothing.
struct Values {
  std::vector<uint32_t> all;
  std::vector<size_t> parent;
  size_t Index(uint32_t value) const {
    return static_cast<size_t>(std::lower_bound(all.begin(), all.end(), value) - all.begin());
  }
  size_t Root(size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
};

// Orients a set's checksums: a variant whose key file the patch updates is
// recognised after an interruption by its replacement, which group
// selection compares with `crc2` alone, so `crc2` must be the new checksum.
bool Orient(const std::vector<uint32_t>& values, const std::vector<const KeyState*>& members, KeySets::Set& set) {
  std::optional<uint32_t> after;
  for (const KeyState* state : members) {
    if (!state->becomes) continue;
    if (after && *after != *state->becomes) return false;
    after = state->becomes;
  }
  set.crc = values.front();
  set.crc2 = values.back();
  if (after && *after == set.crc) std::swap(set.crc, set.crc2);
  return true;
}

// A group names its key file once for every installation it selects: they
// must all find it by that name, which they do where their spellings differ
// in the case of A-Z at most. Others may spell it otherwise: where their
// volume folds the name they find their file, whose checksums are not the
// group's; where it does not they find none.
bool SpelledAlike(const std::vector<std::string>& spelled, KeySets::Set& set) {
  set.spelled = spelled[set.variants.front()];
  return std::all_of(set.variants.begin(), set.variants.end(),
                     [&](size_t v) { return SameOnEveryVolume(spelled[v], set.spelled); });
}

// Every checksum the variants may show, joined into sets with those any one
// variant may show beside it.
Values JoinedValues(const std::vector<KeyState>& states) {
  Values values;
  for (const KeyState& s : states) values.all.insert(values.all.end(), s.seen.begin(), s.seen.end());
  std::sort(values.all.begin(), values.all.end());
  values.all.erase(std::unique(values.all.begin(), values.all.end()), values.all.end());
  values.parent.resize(values.all.size());
  std::iota(values.parent.begin(), values.parent.end(), 0);
  for (const KeyState& s : states)
    for (size_t i = 1; i < s.seen.size(); ++i)
      values.parent[values.Root(values.Index(s.seen[i]))] = values.Root(values.Index(s.seen[0]));
  return values;
}

// The sets (by root) that a leftover replacement could select for a variant
// they do not select on the first run. A leftover is harmless where no set
// has its checksum, or where the set is the variant's own, whose entries are
// done by then.
std::set<size_t> SpoiltSets(const std::vector<KeyState>& states, Values& values) {
  std::set<size_t> spoilt;
  for (const KeyState& state : states) {
    for (uint32_t x : state.leftovers) {
      const size_t i = values.Index(x);
      if (i == values.all.size() || values.all[i] != x) continue;
      const size_t root = values.Root(i);
      if (!state.first || values.Root(values.Index(*state.first)) != root) spoilt.insert(root);
    }
  }
  return spoilt;
}

// The set of checksums `values` (root `root`) as a group, when it is one
// the patcher can select safely: at most two checksums, every variant that
// may show one selected on the first run and never removed first, one
// orientation for every update and one spelling.
std::optional<KeySets::Set> SafeSet(const std::vector<KeyState>& states, const std::vector<std::string>& spelled,
                                    Values& values, size_t root, const std::vector<size_t>& variants) {
  std::vector<uint32_t> checksums;
  for (size_t i = 0; i < values.all.size(); ++i)
    if (values.Root(i) == root) checksums.push_back(values.all[i]);
  const bool every_one_selected = std::all_of(variants.begin(), variants.end(), [&](size_t v) {
    return states[v].first.has_value() && !states[v].removed_first;
  });
  if (checksums.size() > 2 || !every_one_selected) return std::nullopt;
  KeySets::Set set;
  std::vector<const KeyState*> members;
  for (size_t v : variants) {
    set.variants.push_back(v);
    members.push_back(&states[v]);
    if (states[v].vanishes) set.vanishing.push_back(v);
  }
  if (!Orient(checksums, members, set) || !SpelledAlike(spelled, set)) return std::nullopt;
  return set;
}

KeySets SetsFor(const std::vector<KeyState>& states, const std::vector<std::string>& spelled) {
  Values values = JoinedValues(states);
  std::map<size_t, std::vector<size_t>> showing;  // set root -> variants that may show one of its checksums
  for (size_t v = 0; v < states.size(); ++v)
    if (!states[v].seen.empty()) showing[values.Root(values.Index(states[v].seen[0]))].push_back(v);
  const std::set<size_t> spoilt = SpoiltSets(states, values);
  KeySets sets;
  sets.set_of.assign(states.size(), -1);
  for (const auto& [root, variants] : showing) {
    if (spoilt.count(root)) continue;
    std::optional<KeySets::Set> set = SafeSet(states, spelled, values, root, variants);
    if (!set) continue;
    for (size_t v : set->variants) sets.set_of[v] = static_cast<int>(sets.sets.size());
    sets.sets.push_back(std::move(*set));
  }
  return sets;
}

// Whether the key's groups give every variant of the partition exactly its
// change: each variant that needs one is selected by a set, and no set
// selects variants that need different things.
bool Serves(const KeySets& sets, const Partition& partition) {
  for (size_t v = 0; v < partition.of.size(); ++v)
    if (partition.of[v] != kNoChange && sets.set_of[v] < 0) return false;
  for (const KeySets::Set& set : sets.sets) {
    const int first = partition.of[set.variants.front()];
    for (size_t v : set.variants)
      if (partition.of[v] != first) return false;
  }
  return true;
}

struct Cost {
  uint64_t bytes = 0;
  size_t groups = 0;
  bool operator<(const Cost& o) const { return bytes != o.bytes ? bytes < o.bytes : groups < o.groups; }
  Cost operator+(const Cost& o) const { return {bytes + o.bytes, groups + o.groups}; }
};

Cost CostOf(const KeyOption& o) { return {o.cost, o.group_count}; }

std::vector<size_t> ServedMask(const KeyOption& option) {
  std::vector<size_t> served;
  for (size_t p = 0; p < option.serves.size(); ++p)
    if (option.serves[p]) served.push_back(p);
  return served;
}

// The cheapest choice, over every subset of the partitions. Empty when no
// choice serves them all.
std::vector<size_t> ExactCover(const std::vector<KeyOption>& options, size_t partitions) {
  const size_t states = size_t{1} << partitions;
  std::vector<size_t> masks;
  for (const KeyOption& o : options) {
    size_t mask = 0;
    for (size_t p : ServedMask(o)) mask |= size_t{1} << p;
    masks.push_back(mask);
  }
  std::vector<std::optional<Cost>> best(states);
  std::vector<std::pair<size_t, size_t>> from(states);  // the state before, the option added
  best[0] = Cost();
  for (size_t s = 0; s < states; ++s) {
    if (!best[s]) continue;
    for (size_t i = 0; i < options.size(); ++i) {
      const size_t next = s | masks[i];
      const Cost cost = *best[s] + CostOf(options[i]);
      if (next != s && (!best[next] || cost < *best[next])) {
        best[next] = cost;
        from[next] = {s, i};
      }
    }
  }
  std::vector<size_t> chosen;
  if (!best[states - 1]) return chosen;
  for (size_t s = states - 1; s != 0; s = from[s].first) chosen.push_back(from[s].second);
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

// A good choice where the subsets are too many to weigh: each time, the
// option that reads the fewest bytes per partition it newly serves.
std::vector<size_t> GreedyCover(const std::vector<KeyOption>& options, size_t partitions) {
  std::vector<bool> served(partitions, false);
  std::vector<size_t> chosen;
  for (size_t left = partitions; left > 0;) {
    std::optional<size_t> pick;
    double pick_rate = 0;
    size_t pick_fresh = 0;
    for (size_t i = 0; i < options.size(); ++i) {
      size_t fresh = 0;
      for (size_t p : ServedMask(options[i])) fresh += !served[p];
      const double rate = static_cast<double>(options[i].cost) / static_cast<double>(fresh);
      if (fresh > 0 && (!pick || rate < pick_rate)) {
        pick = i;
        pick_rate = rate;
        pick_fresh = fresh;
      }
    }
    if (!pick) return {};
    chosen.push_back(*pick);
    for (size_t p : ServedMask(options[*pick])) served[p] = true;
    left -= pick_fresh;
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

constexpr size_t kExactCoverUpTo = 16;  // partitions

std::vector<size_t> Cover(const std::vector<KeyOption>& options, size_t partitions) {
  return partitions <= kExactCoverUpTo ? ExactCover(options, partitions) : GreedyCover(options, partitions);
}

Cost TotalCost(const std::vector<KeyOption>& options, const std::vector<size_t>& chosen) {
  Cost total;
  for (size_t i : chosen) total = total + CostOf(options[i]);
  return total;
}

// The files that may key groups, in the order they are weighed: the paths
// the variants change differently, then files whose presence or size sets
// the variants apart, then every other file, each tier cheapest first.
std::vector<Candidate> CandidatesOf(const std::vector<Variant>& variants, const TreeIndex& trees,
                                    const std::set<std::string>& split_keys, const std::vector<std::string>& named) {
  std::set<std::string> keys;
  for (const std::string& requested : named) {
    const std::string key = FoldCase(KeyFilePath(requested));
    bool found = false;
    for (size_t v = 0; v < variants.size() && !found; ++v) found = trees.Old(v, key) != nullptr;
    if (!found) throw AuthoringError("key file " + requested + " is in none of the old trees");
    keys.insert(key);
  }
  if (named.empty())
    for (size_t v = 0; v < variants.size(); ++v)
      for (const auto& entry : trees.OldFiles(v)) keys.insert(entry.first);
  std::vector<Candidate> candidates;
  for (const std::string& key : keys) {
    Candidate c{key, "", std::vector<std::string>(variants.size()), std::vector<uint64_t>(variants.size(), 0), 0, 0};
    bool alike = true;
    bool usable = true;
    for (size_t v = 0; v < variants.size(); ++v) {
      const TreeIndex::Named* file = trees.Old(v, key);
      alike = alike && file != nullptr && file->file->size() == trees.Old(0, key)->file->size();
      if (file == nullptr) continue;
      if (c.name.empty()) c.name = *file->path;
      c.spelled[v] = *file->path;
      c.bytes[v] = file->file->size();
      c.cost += c.bytes[v];
      // The patcher's checksum reads a file of 2 GiB or more wrongly.
      usable = usable && file->file->size() < kFileSizeLimit;
    }
    if (!usable && !named.empty())
      throw AuthoringError("key file " + c.name + " cannot key groups: it is 2 GiB or more in an old tree");
    c.tier = split_keys.count(key) ? 0 : alike ? 2 : 1;
    if (usable) candidates.push_back(std::move(c));
  }
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    return a.tier != b.tier ? a.tier < b.tier : a.cost < b.cost;
  });
  return candidates;
}

KeyOption Evaluate(const Candidate& candidate, const TreeIndex& trees, const std::vector<VariantPlan>& plans,
                   const std::vector<Partition>& partitions) {
  std::vector<KeyState> states;
  for (size_t v = 0; v < plans.size(); ++v) states.push_back(StateOf(trees, plans[v], v, candidate.key));
  KeyOption option{candidate.key,
                   candidate.bytes,
                   SetsFor(states, candidate.spelled),
                   std::vector<bool>(partitions.size(), false),
                   candidate.cost,
                   0};
  std::set<size_t> used;
  for (size_t p = 0; p < partitions.size(); ++p) {
    option.serves[p] = Serves(option.sets, partitions[p]);
    if (!option.serves[p]) continue;
    for (size_t s : SetsUsed(option.sets, partitions[p])) used.insert(s);
  }
  option.group_count = used.size();
  return option;
}

bool ServesAny(const KeyOption& option) {
  return std::find(option.serves.begin(), option.serves.end(), true) != option.serves.end();
}

// Keeps the cheaper of two options that serve the same partitions.
void Keep(std::vector<KeyOption>& options, KeyOption option) {
  for (KeyOption& kept : options) {
    if (kept.serves != option.serves) continue;
    if (CostOf(option) < CostOf(kept)) kept = std::move(option);
    return;
  }
  options.push_back(std::move(option));
}

// Weighs the candidates and returns the options worth choosing among. Once
// some choice serves every partition, a file that alone reads more than it
// cannot be part of a cheaper one and is not read; of the files that only
// reading can tell apart, the cheapest are read up to kTierTwoReading times
// what that choice costs.
std::vector<KeyOption> WeighCandidates(const std::vector<Candidate>& candidates, const TreeIndex& trees,
                                       const std::vector<VariantPlan>& plans, const std::vector<Partition>& partitions,
                                       const std::function<void(const BuildProgress&)>& progress) {
  std::vector<KeyOption> kept;
  std::optional<Cost> bound;
  uint64_t total = 0, done = 0, tier_two = 0;
  for (const Candidate& c : candidates) total += c.cost;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& c = candidates[i];
    if (bound && c.tier > 0 && c.cost > bound->bytes) continue;
    if (c.tier == 2 && bound && (tier_two += c.cost) > kTierTwoReading * bound->bytes) break;
    if (progress) progress({"key files", c.name, i + 1, candidates.size(), done, total});
    done += c.cost;
    KeyOption option = Evaluate(c, trees, plans, partitions);
    if (!ServesAny(option)) continue;
    Keep(kept, std::move(option));
    const std::vector<size_t> some = GreedyCover(kept, partitions.size());
    if (!some.empty()) bound = TotalCost(kept, some);
  }
  return kept;
}

}  // namespace

std::vector<size_t> SetsUsed(const KeySets& sets, const Partition& partition) {
  std::vector<size_t> used;
  for (size_t s = 0; s < sets.sets.size(); ++s)
    if (partition.of[sets.sets[s].variants.front()] != kNoChange) used.push_back(s);
  return used;
}

KeyChoice ChooseKeyFiles(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                         const std::vector<Partition>& partitions, const std::set<std::string>& split_keys,
                         const std::vector<std::string>& named,
                         const std::function<void(const BuildProgress&)>& progress) {
  const TreeIndex trees(variants);
  KeyChoice choice;
  choice.options =
      WeighCandidates(CandidatesOf(variants, trees, split_keys, named), trees, plans, partitions, progress);
  choice.chosen = Cover(choice.options, partitions.size());
  return choice;
}

std::string KeyFilePath(const std::string& requested) {
  std::string path = requested;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name == "..")
      throw AuthoringError("key file " + requested + " leaves the installation: name it relative to it");
    if (!name.empty() && name != ".") out += "/" + name;
    start = end + 1;
  }
  if (out.empty()) throw AuthoringError("key file " + requested + " names no file");
  return out;
}
