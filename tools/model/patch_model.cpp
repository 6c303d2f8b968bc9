#include "tools/model/patch_model.h"

#include <algorithm>
#include <memory>

#include "engine/internal_error.h"
#include "manifest/group_selection.h"
#include "tools/model/rebuilt_file.h"
#include "tools/payload/patch_documents.h"
#include "tools/payload/zlib_codec.h"
#include "tools/tree/paths.h"

namespace {

constexpr uint64_t kReadableLimit = uint64_t{1} << 31;   // the paged reader and the writer
constexpr uint64_t kChecksumLimit = uint64_t{1} << 32;  // the file checksum

// The patcher's checksum cache lives for the process and is keyed by path:
// each run gets an installation directory of its own, so that no checksum
// of another run's key file is taken from the cache.
WideText FreshInstallationDirectory() {
  static int runs = 0;
  return WidenAscii(("C:\\Model" + std::to_string(++runs)).c_str());
}

// The file's path in the installation from the patcher's view of an entry.
std::string TreePath(const FilePatch& entry) {
  std::string path = WideToUtf8(entry.dir_part + entry.name_part);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.empty() || path[0] != '/' ? "/" + path : path;
}

// What the entry writes, as its manifest says.
uint64_t NewBytes(const FilePatch& entry) {
  const int64_t size = entry.kind == Deleted ? 0 : ParseInt64(entry.size);
  return size > 0 ? static_cast<uint64_t>(size) : 0;
}

// A "DATA" resource as the patcher's loader finds it.
DataResource ResourceOf(const PatchResources& resources, int id) {
  const auto found = resources.find(id & 0xFFFF);
  if (found == resources.end()) RaiseInternalError("Cannot find resource");
  if (found->second.empty()) RaiseInternalError("Cannot get resource length");
  return DataResource{found->second.data(), static_cast<uint32_t>(found->second.size())};
}

// Ends the run: thrown inside SimulateRun only.
struct Stop {
  RunEnd end;
  std::string path;
  std::string reason;
};

// One run: the patch, the installation it changes, the caller's hooks, and
// the bytes of new files written so far of all the entries will write.
struct Run {
  const PatchResources& resources;
  InstallationModel& installation;
  const RunHooks& hooks;
  uint64_t done = 0, total = 0;

  // The entries done, and `within` bytes of the one at work.
  void Report(const std::string& path, uint64_t within) const {
    if (hooks.progress) hooks.progress(path, done + within, total);
  }
  DataResource Resource(int id) const { return ResourceOf(resources, id); }
};

// The patcher's file plan: the main manifest, the groups it selects by
// their key files' checksums in the installation, and their packs' entries.
FilePatchList CollectEntries(const PatchResources& resources, const InstallationModel& installation,
                             RunResult& result) {
  const WideText base = FreshInstallationDirectory();
  const FileChecksum checksum = [&](const WideText& path, NarrowText& text) {
    if (path.compare(0, base.size(), base) != 0) return false;
    std::string relative = WideToUtf8(path.substr(base.size()));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const InstallationModel::File* file = installation.Find(relative);
    if (file == nullptr || file->content.size() == 0 || file->content.size() >= kChecksumLimit) return false;
    text = ChecksumText(file->content.Crc());
    return true;
  };
  const DataResourceLoader load = [&](int id) {
    result.packs.push_back(id & 0xFFFF);
    return ResourceOf(resources, id);
  };
  FilePatchList list;
  try {
    result.required_space = CollectFilePatches(list, base, load, checksum);
  } catch (const std::exception& e) {
    throw Stop{RunEnd::InternalError, "", std::string("the patcher stops with \"") + e.what() +
                                              "\" while it reads its manifests"};
  }
  // The main manifest is read first of all; it is no pack.
  result.packs.erase(std::remove(result.packs.begin(), result.packs.end(), kMainManifestId), result.packs.end());
  return list;
}

// The pre-flight pass over every entry: removes the targets of added
// entries, and returns which entries' installed files must have their
// checksum read.
std::vector<bool> Preflight(Run& run, const FilePatchList& list) {
  std::vector<bool> checksum_needed(list.size(), false);
  for (size_t i = 0; i < list.size(); ++i) {
    const FilePatch& entry = *list[i];
    const std::string path = TreePath(entry);
    const InstallationModel::File* file = run.installation.Find(path);
    if (entry.kind == Added && file != nullptr) run.installation.Remove(path);
    if (entry.kind != Updated) continue;
    if (file == nullptr) throw Stop{RunEnd::Corrupted, path, "the pre-flight pass finds the file missing"};
    const int64_t size = static_cast<int64_t>(file->content.size());
    if (size == ParseInt64(entry.size)) {
      checksum_needed[i] = true;
    } else if (size != ParseInt64(entry.size_org)) {
      throw Stop{RunEnd::Corrupted, path,
                 "the pre-flight pass finds " + std::to_string(size) + " bytes, neither the unpatched " +
                     entry.size_org + " nor the patched " + entry.size};
    }
  }
  return checksum_needed;
}

// The payload's bytes as the patcher gets them into "new.dat".
Bytes Extract(const Run& run, const FilePatch& entry, const std::string& path) {
  DataResource resource;
  try {
    resource = run.Resource(entry.id);
  } catch (const std::exception& e) {
    throw Stop{RunEnd::InternalError, path,
               "payload " + std::to_string(entry.id) + ": the patcher stops with \"" + e.what() + "\""};
  }
  Bytes bytes(resource.data, resource.data + resource.length);
  if (!entry.comp) return bytes;
  Bytes inflated;
  if (!Inflate(bytes, inflated))
    throw Stop{RunEnd::DiskError, path, "payload " + std::to_string(entry.id) + " does not inflate"};
  return inflated;
}

// The patcher puts a written file in place only when its size and checksum,
// taken while it is written, are the entry's.
void Install(Run& run, const FilePatch& entry, const std::string& path, TreeFile written) {
  const int64_t size = ParseInt64(entry.size);
  if (size < 0 || written.size() != static_cast<uint64_t>(size) || ChecksumText(written.Crc()) != entry.crc)
    throw Stop{RunEnd::Corrupted, path,
               "the written file has " + std::to_string(written.size()) + " bytes and checksum " +
                   ChecksumText(written.Crc()) + ", not the entry's " + entry.size + " and " + entry.crc};
  run.installation.Put(path, run.hooks.settle ? run.hooks.settle(path, std::move(written)) : std::move(written));
}

// The installed file rebuilt from the diff in `payload`.
TreeFile Rebuild(const Run& run, const std::string& path, const InstallationModel::File& file, const Bytes& payload) {
  if (file.content.size() >= kReadableLimit)
    throw Stop{RunEnd::DiskError, path, "the installed file is 2 GiB or more, beyond the diff applier"};
  const std::shared_ptr<const FileData> old_file = file.content.Load();
  RebuiltFile rebuilt(run.hooks.expected ? run.hooks.expected(path) : nullptr,
                      [&](uint64_t written) { run.Report(path, written); });
  ApplyCost cost;
  bool decoded = false;
  try {
    decoded = MeasureApply(old_file->span(), payload, rebuilt.Sink(), cost);
  } catch (const std::exception&) {
    decoded = false;
  }
  if (!decoded || rebuilt.size() >= kReadableLimit)
    throw Stop{RunEnd::DiskError, path, "the diff does not decode against the installed file"};
  if (run.hooks.on_diff) run.hooks.on_diff(path, cost);
  return rebuilt.File();
}

EntryOutcome ApplyUpdated(Run& run, const FilePatch& entry, const std::string& path,
                          const InstallationModel::File* file, const NarrowText& installed_crc) {
  if (file == nullptr) throw Stop{RunEnd::Corrupted, path, "the file to update is missing"};
  const int64_t size = static_cast<int64_t>(file->content.size());
  if (size == ParseInt64(entry.size)) {
    if (installed_crc == entry.crc) return EntryOutcome::AlreadyDone;
    if (installed_crc != entry.crc_org)
      throw Stop{RunEnd::Corrupted, path,
                 "the installed file has the patched size but checksum " + installed_crc +
                     ", neither the unpatched " + entry.crc_org + " nor the patched " + entry.crc};
  }
  if (size != ParseInt64(entry.size_org))
    throw Stop{RunEnd::Corrupted, path,
               "the installed file has " + std::to_string(size) + " bytes, not the unpatched " + entry.size_org};
  Bytes payload = Extract(run, entry, path);
  Install(run, entry, path, entry.diff ? Rebuild(run, path, *file, payload) : TreeFile(std::move(payload)));
  return EntryOutcome::Written;
}

EntryOutcome Apply(Run& run, const FilePatch& entry, const std::string& path, bool checksum_needed) {
  const InstallationModel::File* file = run.installation.Find(path);
  NarrowText installed_crc;
  if (file != nullptr && checksum_needed) {
    const uint64_t size = file->content.size();
    if (size == 0)
      throw Stop{RunEnd::DiskError, path, "the checksum of the installed file cannot be taken: it is empty"};
    if (size >= kChecksumLimit)
      throw Stop{RunEnd::DiskError, path, "the checksum of a file of 4 GiB or more cannot be taken"};
    installed_crc = ChecksumText(file->content.Crc());
  }
  switch (entry.kind) {
    case Deleted:
      if (file == nullptr) return EntryOutcome::Absent;
      run.installation.Remove(path);
      return EntryOutcome::Removed;
    case Added:
      if (file != nullptr) run.installation.Remove(path);
      Install(run, entry, path, TreeFile(Extract(run, entry, path)));
      return EntryOutcome::Written;
    case Updated:
      return ApplyUpdated(run, entry, path, file, installed_crc);
  }
  throw Stop{RunEnd::Corrupted, path, "an entry of unknown kind"};
}

// The install phase: every entry in order, each recorded as it went.
void ApplyEntries(Run& run, const FilePatchList& list, const std::vector<bool>& checksum_needed, RunResult& result) {
  for (const auto& entry : list) run.total += NewBytes(*entry);
  for (size_t i = 0; i < list.size(); ++i) {
    const FilePatch& entry = *list[i];
    EntryRecord record{entry.kind, TreePath(entry), EntryOutcome::Written};
    run.Report(record.path, 0);
    record.outcome = Apply(run, entry, record.path, checksum_needed[i]);
    run.done += NewBytes(entry);
    result.entries.push_back(record);
  }
  run.Report("", 0);
}

}  // namespace

RunResult SimulateRun(const PatchResources& resources, InstallationModel& installation, const RunHooks& hooks) {
  RunResult result;
  Run run{resources, installation, hooks};
  try {
    const FilePatchList list = CollectEntries(resources, installation, result);
    const std::vector<bool> checksum_needed = Preflight(run, list);
    ApplyEntries(run, list, checksum_needed, result);
  } catch (const Stop& stop) {
    result.end = stop.end;
    result.failed_path = stop.path;
    result.reason = stop.reason;
  }
  return result;
}

std::vector<int> SelectedPacks(const PatchResources& resources, const InstallationModel& installation) {
  RunResult result;
  try {
    CollectEntries(resources, installation, result);
  } catch (const Stop&) {
    return {};
  }
  return result.packs;
}

std::string DescribeEnd(RunEnd end) {
  switch (end) {
    case RunEnd::Success:
      return "box 216 (patch installed)";
    case RunEnd::Corrupted:
      return "box 210 (installation corrupted)";
    case RunEnd::DiskError:
      return "box 215 (disk error)";
    case RunEnd::InternalError:
      return "the internal-error box";
  }
  return "an unknown ending";
}
