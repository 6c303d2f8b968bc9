#include "tools/cli/verify.h"

#include <map>

#include "tools/cli/inspect.h"
#include "tools/cli/json_writer.h"
#include "tools/payload/patch_documents.h"
#include "tools/tree/paths.h"

namespace {

const char* OutcomeText(EntryOutcome outcome) {
  switch (outcome) {
    case EntryOutcome::Written:
      return "written";
    case EntryOutcome::AlreadyDone:
      return "already patched";
    case EntryOutcome::Removed:
      return "removed";
    case EntryOutcome::Absent:
      return "already absent";
  }
  return "?";
}

void Compare(const InstallationModel& installation, const FileTree& new_tree, std::vector<std::string>& differences) {
  const auto wanted = FilesByKey(new_tree);
  for (const auto& [key, file] : installation.files()) {
    const auto found = wanted.find(key);
    if (found == wanted.end()) {
      differences.push_back(file.path + ": stays, but the new tree does not have it");
    } else if (!file.content.SameBytes(*found->second)) {
      differences.push_back(file.path + ": differs from the new tree's");
    }
  }
  for (const auto& [path, file] : new_tree.files)
    if (installation.Find(path) == nullptr) differences.push_back(path + ": missing, the new tree has it");
}

std::string Ending(const RunResult& run) {
  std::string text = DescribeEnd(run.end);
  if (run.end != RunEnd::Success)
    text += " at " + (run.failed_path.empty() ? "the manifest" : run.failed_path) + ": " + run.reason;
  return text;
}

// The key files the patch's groups name; none where its main manifest does
// not read (the run then says why).
std::vector<std::string> KeyFilesOf(const PatchResources& resources) {
  try {
    return ReadPatchContents(resources).KeyFiles();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

bool EditionResult::ok() const {
  return run.end == RunEnd::Success && rerun.end == RunEnd::Success && differences.empty();
}

std::vector<EditionResult> VerifyPatch(const PatchResources& resources, const std::vector<Edition>& editions,
                                       const VerifyProgress& progress) {
  const std::vector<std::string> key_files = KeyFilesOf(resources);
  std::vector<EditionResult> results;
  for (const Edition& edition : editions) {
    EditionResult result;
    const auto installed = FilesByKey(edition.old_tree);
    for (const std::string& key : key_files) {
      const auto found = installed.find(FoldCase("/" + key));
      if (found != installed.end()) result.key_bytes += found->second->size();
    }
    std::map<std::string, const TreeFile*> wanted;
    if (edition.new_tree) wanted = FilesByKey(*edition.new_tree);
    // What a run writes is kept as the new tree's file when it is that file,
    // else by its size and checksum only: no rebuilt bytes stay in memory.
    RunHooks hooks;
    hooks.settle = [&](const std::string& path, TreeFile rebuilt) {
      const auto found = wanted.find(FoldCase(path));
      if (found == wanted.end()) return TreeFile::Digest(rebuilt.size(), rebuilt.Crc());
      if (rebuilt.SameBytes(*found->second)) return *found->second;
      return TreeFile::DigestDiffering(rebuilt.size(), rebuilt.Crc(), *found->second);
    };
    hooks.expected = [&](const std::string& path) -> const TreeFile* {
      const auto found = wanted.find(FoldCase(path));
      return found == wanted.end() ? nullptr : found->second;
    };
    if (progress)
      hooks.progress = [&](const std::string& path, uint64_t done, uint64_t total) {
        progress(results.size() + 1, path, done, total);
      };
    InstallationModel installation(edition.old_tree);
    result.run = SimulateRun(resources, installation, hooks);
    if (result.run.end == RunEnd::Success) {
      if (edition.new_tree) Compare(installation, *edition.new_tree, result.differences);
      hooks.progress = nullptr;
      result.rerun = SimulateRun(resources, installation, hooks);
    }
    results.push_back(std::move(result));
  }
  return results;
}

std::string VerifyText(const std::vector<Edition>& editions, const std::vector<EditionResult>& results) {
  std::string out;
  size_t failed = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    const Edition& e = editions[i];
    const EditionResult& r = results[i];
    out += "edition " + std::to_string(i + 1) + (e.name.empty() ? "" : " (" + e.name + ")") + ": old " + e.old_dir +
           (e.new_dir.empty() ? "" : ", new " + e.new_dir) + "\n";
    std::string packs;
    for (int id : r.run.packs) packs += " " + std::to_string(id);
    out += "  packs read:" + (packs.empty() ? std::string(" none") : packs) + "; required_space " +
           SpaceText(r.run.required_space) + "; key files read: " + SizeText(r.key_bytes) + "\n";
    for (const auto& entry : r.run.entries)
      out += "  " + KindColumn(entry.kind) + entry.path + "  " + OutcomeText(entry.outcome) + "\n";
    out += "  the patcher ends with " + Ending(r.run) + "\n";
    if (r.run.end == RunEnd::Success && r.rerun.end != RunEnd::Success)
      out += "  a run interrupted at its end could not be finished: the next run ends with " + Ending(r.rerun) + "\n";
    for (const auto& d : r.differences) out += "  DIFFERS " + d + "\n";
    if (r.ok()) {
      out += e.new_dir.empty() ? "  ok: the patch applies\n" : "  ok: rebuilds the new tree exactly\n";
    } else {
      ++failed;
      out += "  FAILED" + (e.name.empty() ? "" : ": " + e.name) + "\n";
    }
  }
  out += failed == 0
             ? "verify: every edition passed\n"
             : "verify: " + std::to_string(failed) + " of " + std::to_string(results.size()) + " editions failed\n";
  return out;
}

std::string VerifyJson(const std::vector<Edition>& editions, const std::vector<EditionResult>& results) {
  JsonWriter json;
  json.BeginObject().BeginArray("editions");
  bool all = true;
  for (size_t i = 0; i < results.size(); ++i) {
    const EditionResult& r = results[i];
    all = all && r.ok();
    json.BeginObject();
    if (!editions[i].name.empty()) json.String("name", editions[i].name);
    json.String("old", editions[i].old_dir);
    if (!editions[i].new_dir.empty()) json.String("new", editions[i].new_dir);
    json.Bool("ok", r.ok()).String("end", DescribeEnd(r.run.end));
    if (r.run.end != RunEnd::Success) json.String("failed_path", r.run.failed_path).String("reason", r.run.reason);
    if (r.run.end == RunEnd::Success) json.String("rerun_end", DescribeEnd(r.rerun.end));
    json.Number("required_space", r.run.required_space).Number("key_bytes_read", r.key_bytes).BeginArray("packs");
    for (int id : r.run.packs) json.Number(nullptr, id);
    json.EndArray().BeginArray("entries");
    for (const auto& entry : r.run.entries)
      json.BeginObject()
          .String("kind", KindName(entry.kind))
          .String("path", entry.path)
          .String("outcome", OutcomeText(entry.outcome))
          .EndObject();
    json.EndArray().BeginArray("differences");
    for (const auto& d : r.differences) json.String(d);
    json.EndArray().EndObject();
  }
  return json.EndArray().Bool("ok", all).EndObject().Text();
}
