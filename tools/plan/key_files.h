#pragma once
// Which files key a patch's groups. The patcher selects a keyed group when
// its key file has the checksum `crc` or `crc2`, on the first run and again
// on every run after an interruption, when the key file may already be
// patched, deleted, or missing with its replacement beside it. A key file
// can serve a way the variants split (a partition: which variants need
// which change of a path) when its checksums set apart every variant that
// needs a change from every variant that needs another one or none, in
// every state an installation passes through. Among the choices that serve
// every partition, the one whose key files the players' patchers read the
// fewest bytes of is taken, then the one with the fewest groups.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tools/plan/authoring.h"

// The class of the variants that need nothing for a path.
constexpr int kNoChange = 0;

// Paths that split the variants the same way: the class of each variant
// (numbered in order of first use, kNoChange for none) and the paths.
struct Partition {
  std::vector<int> of;
  std::vector<size_t> paths;
};

// The groups one key file can key safely: sets of variants, each selected by
// one group's `crc` and `crc2` on every run and by no other.
struct KeySets {
  struct Set {
    std::vector<size_t> variants;  // ascending
    std::string spelled;           // the key file's name in the group, as the variants spell it
    uint32_t crc = 0, crc2 = 0;
    // Variants whose key file the patch deletes: the group must be done
    // before that deletion.
    std::vector<size_t> vanishing;
  };
  std::vector<Set> sets;
  std::vector<int> set_of;  // by variant: the set that selects it, or -1 (no group of the key does)
};

// A key file worth choosing: its sets, the partitions it serves and what
// choosing it costs.
struct KeyOption {
  std::string key;              // FoldCase
  std::vector<uint64_t> bytes;  // what each variant's patcher reads of it: its old size, 0 where absent
  KeySets sets;
  std::vector<bool> serves;  // by partition
  uint64_t cost = 0;         // bytes over every variant
  size_t group_count = 0;    // sets the partitions it serves use
};

// The sets that get the partition's entries under a key: those of variants
// that need a change.
std::vector<size_t> SetsUsed(const KeySets& sets, const Partition& partition);

struct KeyChoice {
  std::vector<KeyOption> options;  // every option weighed that serves some partition
  std::vector<size_t> chosen;      // into `options`; empty when no choice serves every partition
};

// Weighs the candidates (`named`, relative to the installation, or every
// file of the old trees when empty) and chooses among them. `split_keys`
// are the paths (FoldCase) the variants change differently: their checksums
// are taken anyway, and they are weighed first; every other candidate only
// while it alone reads less than the best choice found so far. Raises
// AuthoringError for a named file that no old tree has or that is 2 GiB or
// more. `progress` (may be empty) hears stage "key files".
KeyChoice ChooseKeyFiles(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                         const std::vector<Partition>& partitions, const std::set<std::string>& split_keys,
                         const std::vector<std::string>& named,
                         const std::function<void(const BuildProgress&)>& progress);

// "./bin\game.exe" and "/bin/game.exe" both name "/bin/game.exe". Raises
// AuthoringError for a name that leaves the installation or names nothing.
std::string KeyFilePath(const std::string& requested);
