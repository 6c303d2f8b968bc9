#include "tools/plan/self_check.h"

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
RunHooks CheckingHooks(const Variant& v, const std::map<std::string, const TreeFile*>& new_files,
                       VariantCheck& check, const RunProgress& progress) {
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
    Refuse(v.name, rerun.failed_path, "a run interrupted at the end could never be finished: the next run would "
                                      "end with " + DescribeEnd(rerun.end) + ": " + rerun.reason);
  for (const auto& entry : rerun.entries)
    if (entry.kind == Updated && entry.outcome != EntryOutcome::AlreadyDone)
      Refuse(v.name, entry.path, "a second run would not recognise this updated file as patched");
}

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
