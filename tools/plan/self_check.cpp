#include "tools/plan/self_check.h"

#include <algorithm>
#include <set>

#include "tools/common/authoring_error.h"
#include "tools/tree/paths.h"

namespace {

[[noreturn]] void Refuse(const std::string& variant, const std::string& path, const std::string& why) {
  throw AuthoringError("self-check failed for variant " + variant + (path.empty() ? "" : ", " + path) + ": " + why +
                       "; no patch written");
}

// The patched installation must hold exactly the new tree's files. Files
// the plan leaves alone were found equal to their new version when the plan
// was made; every file the run wrote was compared as it was settled.
void CompareWithNewTree(const Variant& v, const VariantPlan& plan, const InstallationModel& installation,
                        const std::map<std::string, const TreeFile*>& new_files) {
  for (const auto& [key, file] : installation.files()) {
    const auto wanted = new_files.find(key);
    if (wanted == new_files.end()) Refuse(v.name, file.path, "the patched installation keeps this file");
    if (plan.changes.count(key) && !file.content.SameBytes(*wanted->second))
      Refuse(v.name, file.path, "the patched file differs from the new one");
  }
  for (const auto& [path, file] : v.new_tree.files)
    if (installation.Find(path) == nullptr) Refuse(v.name, path, "the patched installation lacks this file");
}

// The hooks of the variant's run: every file the run writes is compared
// with the new tree's and then stands for it, so no rebuilt bytes stay in
// memory; each diff's cost is noted in `check`.
RunHooks CheckingHooks(const Variant& v, const std::map<std::string, const TreeFile*>& new_files, VariantCheck& check,
                       const RunProgress& progress) {
  RunHooks hooks;
  hooks.settle = [&v, &new_files](const std::string& path, TreeFile rebuilt) {
    const auto wanted = new_files.find(FoldCase(path));
    if (wanted == new_files.end()) Refuse(v.name, path, "the patch writes a file the new version does not have");
    if (!rebuilt.SameBytes(*wanted->second)) Refuse(v.name, path, "the rebuilt file differs from the new one");
    return *wanted->second;
  };
  hooks.on_diff = [&check](const std::string& path, const ApplyCost& cost) { check.diffs.push_back({path, cost}); };
  hooks.expected = [&new_files](const std::string& path) -> const TreeFile* {
    const auto wanted = new_files.find(FoldCase(path));
    return wanted == new_files.end() ? nullptr : wanted->second;
  };
  hooks.progress = progress;
  return hooks;
}

// The run must succeed, select exactly the variant's groups and name no
// file twice.
void CheckRun(const Variant& v, const BuiltPatch& patch, size_t index, const RunResult& run) {
  if (run.end != RunEnd::Success)
    Refuse(v.name, run.failed_path, "the patcher would end with " + DescribeEnd(run.end) + ": " + run.reason);
  std::vector<int> packs;
  for (size_t g : patch.GroupsOf(index)) packs.push_back(patch.documents.groups[g].pack_id);
  if (run.packs != packs) Refuse(v.name, "", "the groups the patcher selects are not the variant's own");
  std::set<std::string> seen;
  for (const auto& entry : run.entries)
    if (!seen.insert(FoldCase(entry.path)).second)
      Refuse(v.name, entry.path, "two entries of the patch name this file");
}

// A run stopped after its last entry, before the registry is written,
// leaves exactly `installation`; the next run must finish it.
void CheckRerun(const Variant& v, const PatchResources& resources, InstallationModel& installation) {
  const RunResult rerun = SimulateRun(resources, installation, {});
  if (rerun.end != RunEnd::Success)
    Refuse(v.name, rerun.failed_path,
           "a run interrupted at the end could never be finished: the next run would "
           "end with " +
               DescribeEnd(rerun.end) + ": " + rerun.reason);
  for (const auto& entry : rerun.entries)
    if (entry.kind == Updated && entry.outcome != EntryOutcome::AlreadyDone)
      Refuse(v.name, entry.path, "a second run would not recognise this updated file as patched");
}

// Runs after an interruption find the key files in other states: patched,
// deleted, removed by the pre-flight pass, or missing with a replacement
// beside them (the key file's own, or another entry's of its folder). At
// every such state of the variant's run, the patcher's group selection must
// select no group that is not the variant's, and may leave out only
// groups whose entries are all done.
class InterruptedSelections {
 public:
  InterruptedSelections(const Variant& v, const BuiltPatch& patch, const PatchResources& resources, size_t index)
      : v_(v), patch_(patch), resources_(resources), state_(v.old_tree), new_files_(FilesByKey(v.new_tree)) {
    for (size_t g : patch.GroupsOf(index)) {
      packs_.push_back(patch.documents.groups[g].pack_id);
      for (const AuthoredFile& f : patch.documents.groups[g].files) entries_.push_back({g, &f});
    }
    for (const AuthoredGroup& g : patch.documents.groups)
      if (g.filtered) keys_.insert(FoldCase("/" + g.filename));
  }

  void Check() {
    if (keys_.empty()) return;
    for (const Entry& e : entries_)
      if (e.file->kind == Added && state_.Find(e.file->subpath) && keys_.count(FoldCase(e.file->subpath))) {
        state_.Remove(e.file->subpath);
        Expect(0, "after the pre-flight pass removed " + e.file->subpath);
      }
    for (size_t i = 0; i < entries_.size(); ++i) {
      const AuthoredFile& f = *entries_[i].file;
      const bool key = keys_.count(FoldCase(f.subpath)) > 0;
      if (f.kind != Deleted && (key || KeyMissingIn(Folder(f.subpath)))) WithReplacement(i, f, key);
      if (f.kind == Deleted) {
        state_.Remove(f.subpath);
      } else {
        state_.Put(f.subpath, *new_files_.at(FoldCase(f.subpath)));
      }
      if (key) Expect(i + 1, "after " + f.subpath);
    }
  }

 private:
  struct Entry {
    size_t group;
    const AuthoredFile* file;
  };

  static std::string Folder(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

  bool KeyMissingIn(const std::string& folder) const {
    for (const std::string& key : keys_)
      if (Folder(key) == folder && state_.Find(key) == nullptr) return true;
    return false;
  }

  // Stopped while entry `i` writes its replacement: beside its target, or,
  // for a key file, with the target already removed.
  void WithReplacement(size_t i, const AuthoredFile& f, bool key) {
    const std::string replacement = Folder(f.subpath) + (f.diff ? "undiff.dat" : "new.dat");
    const InstallationModel::File* target = state_.Find(f.subpath);
    const bool removed = key && target != nullptr;
    const TreeFile old_content = removed ? target->content : TreeFile();
    state_.Put(replacement, *new_files_.at(FoldCase(f.subpath)));
    if (removed) state_.Remove(f.subpath);
    Expect(i, "with " + f.subpath + "'s replacement written" + (removed ? " and the file removed" : ""));
    state_.Remove(replacement);
    if (removed) state_.Put(f.subpath, old_content);
  }

  // `done`: the entries before it are all done.
  void Expect(size_t done, const std::string& moment) const {
    const std::vector<int> packs = SelectedPacks(resources_, state_);
    for (int pack : packs)
      if (std::find(packs_.begin(), packs_.end(), pack) == packs_.end())
        Refuse(
            v_.name, "",
            "a run stopped " + moment + " would select pack " + std::to_string(pack) + ", which is not the variant's");
    for (size_t i = done; i < entries_.size(); ++i) {
      const int pack = patch_.documents.groups[entries_[i].group].pack_id;
      if (std::find(packs.begin(), packs.end(), pack) == packs.end())
        Refuse(v_.name, entries_[i].file->subpath,
               "a run stopped " + moment + " would no longer select pack " + std::to_string(pack) +
                   ", whose entry this is, not yet done");
    }
  }

  const Variant& v_;
  const BuiltPatch& patch_;
  const PatchResources& resources_;
  InstallationModel state_;
  const std::map<std::string, const TreeFile*> new_files_;
  std::vector<int> packs_;
  std::vector<Entry> entries_;  // in the order the patcher applies them
  std::set<std::string> keys_;  // FoldCase, with a leading "/"
};

VariantCheck CheckVariant(const BuiltPatch& patch, const PatchResources& resources,
                          const std::vector<Variant>& variants, size_t index,
                          const std::function<void(const BuildProgress&)>& progress) {
  const Variant& v = variants[index];
  const std::map<std::string, const TreeFile*> new_files = FilesByKey(v.new_tree);
  VariantCheck check;
  check.name = v.name;
  RunProgress run_progress;
  if (progress)
    run_progress = [&](const std::string& path, uint64_t done, uint64_t total) {
      progress({"self-check", path, index + 1, variants.size(), done, total});
    };
  InstallationModel installation(v.old_tree);
  check.run = SimulateRun(resources, installation, CheckingHooks(v, new_files, check, run_progress));
  CheckRun(v, patch, index, check.run);
  CompareWithNewTree(v, patch.plans[index], installation, new_files);
  CheckRerun(v, resources, installation);
  InterruptedSelections(v, patch, resources, index).Check();
  return check;
}

}  // namespace

PatchResources ResourcesOf(const BuiltPatch& patch) {
  PatchResources resources;
  for (const auto& r : patch.resources) resources[r.first] = r.second;
  return resources;
}

std::vector<VariantCheck> SelfCheck(const BuiltPatch& patch, const std::vector<Variant>& variants,
                                    const std::function<void(const BuildProgress&)>& progress) {
  const PatchResources resources = ResourcesOf(patch);
  std::vector<VariantCheck> checks;
  for (size_t index = 0; index < variants.size(); ++index)
    checks.push_back(CheckVariant(patch, resources, variants, index, progress));
  return checks;
}
