#pragma once
// The patcher's run over an installation, modelled in memory: the same
// readers (main manifest, group selection, pack documents) and the same
// diff decoder, the same order (groups in order; in each pack its Added,
// then Updated, then Deleted entries; the pre-flight pass over every entry,
// with its removal of added targets, before the first entry is applied), and
// the same checks of each installed file, on an installation whose names
// compare as Windows compares them (without case). Used by the self-check
// before a patch is written and by `qtr_author verify` on a built one.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "manifest/file_patch.h"
#include "tools/diff/apply_cost.h"
#include "tools/model/installation.h"
#include "tools/tree/file_tree.h"

// The "DATA" resources of a patch by id.
using PatchResources = std::map<int, Bytes>;

// How one entry went.
enum class EntryOutcome {
  Written,      // added, or updated from the installed file
  AlreadyDone,  // updated entry whose file already had its new size and checksum
  Removed,      // deleted entry whose file was there
  Absent,       // deleted entry whose file was already gone
};

struct EntryRecord {
  FilePatchKind kind = Added;
  std::string path;  // "/" separated, as the pack document names it
  EntryOutcome outcome = EntryOutcome::Written;
};

// The patcher's boxes a run can end with here.
enum class RunEnd {
  Success,        // box 216
  Corrupted,      // box 210: pre-flight failure or a file that is not what the entry expects
  DiskError,      // box 215
  InternalError,  // the internal-error ending
};

struct RunResult {
  RunEnd end = RunEnd::Success;
  std::string failed_path;  // the entry that ended the run, if one did
  std::string reason;       // why, in words
  int64_t required_space = 0;
  std::vector<int> packs;  // the pack documents read, in order
  std::vector<EntryRecord> entries;  // applied, in order, up to the one that failed
};

// Called with each file a Written entry produced (its bytes checked against
// the entry's size and checksum), before it is put into the installation;
// returns what the installation keeps instead (the same content in a form
// that costs no memory, for instance), or raises to stop the run.
using SettleFile = std::function<TreeFile(const std::string& path, TreeFile rebuilt)>;
// Called with what each diff the run applies costs the patcher's reader;
// may be empty.
using DiffObserver = std::function<void(const std::string& path, const ApplyCost& cost)>;

// The file a path should hold once written, if the caller knows one (the
// new tree's), or null: a file rebuilt from a diff is then compared with it
// byte for byte while it is written instead of being kept in memory, and is
// settled as that file itself when equal (see TreeFile::DigestDiffering for
// one that is not).
using ExpectedFile = std::function<const TreeFile*(const std::string& path)>;

// Called as the run's install phase goes on: the entry at work, and the
// bytes of new files written so far of all the entries will write.
using RunProgress = std::function<void(const std::string& path, uint64_t done, uint64_t total)>;

struct RunHooks {
  SettleFile settle;
  DiffObserver on_diff;
  ExpectedFile expected;
  RunProgress progress;
};

// Runs the patch in `resources` over `installation` from the file plan on
// (the installed version is taken to be the patch's `from`) and leaves the
// installation as the patcher would. Never raises for a faulty patch or
// installation: that is the result.
RunResult SimulateRun(const PatchResources& resources, InstallationModel& installation,
                      const RunHooks& hooks = RunHooks());

// "box 210 (the installation is corrupted)" and so on.
// The packs the patcher's group selection reads for `installation`, in
// order: those of the groups it selects (none when the manifests are faulty).
std::vector<int> SelectedPacks(const PatchResources& resources, const InstallationModel& installation);

std::string DescribeEnd(RunEnd end);
