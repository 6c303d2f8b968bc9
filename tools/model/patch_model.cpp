#include "tools/model/patch_model.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "engine/internal_error.h"
#include "manifest/group_selection.h"
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

// A file rebuilt from a diff. When the run's hooks name the file it should
// become, the bytes are compared with that file's as they come and not kept:
// the result is then that file itself, or a digest known to differ from it.
// Otherwise they are kept in memory. The CRC-32 is taken as they come. The
// compared file's pages are given back behind the comparison, so that of the
// two only the old file, which a diff may read anywhere, becomes resident as
// a whole.
class RebuiltFile {
 public:
  // `written` is told the bytes taken so far now and then; it may be empty.
  RebuiltFile(const TreeFile* expected, std::function<void(uint64_t)> written)
      : expected_(expected), written_(std::move(written)) {
    if (expected_ != nullptr) expected_data_ = expected_->Load();
  }
  RebuiltFile(const RebuiltFile&) = delete;
  RebuiltFile& operator=(const RebuiltFile&) = delete;

  const RebuiltSink& Sink() const { return sink_; }
  uint64_t size() const { return size_; }
  TreeFile File() {
    const uint32_t crc = static_cast<uint32_t>(crc_);
    if (expected_ == nullptr) return TreeFile(std::move(kept_));
    if (equal_ && size_ == expected_data_->size()) {
      expected_->NoteCrc(crc);
      return *expected_;
    }
    return TreeFile::DigestDiffering(size_, crc, *expected_);
  }

 private:
  static constexpr uint64_t kReleaseEvery = uint64_t{64} << 20;
  static constexpr uint64_t kReportEvery = uint64_t{16} << 20;

  bool Take(const uint8_t* bytes, size_t count) {
    crc_ = crc32(crc_, bytes, static_cast<uInt>(count));
    if (expected_ == nullptr) {
      kept_.insert(kept_.end(), bytes, bytes + count);
    } else if (equal_) {
      equal_ = size_ + count <= expected_data_->size() &&
               std::equal(bytes, bytes + count, expected_data_->data() + size_);
    }
    if (written_ && (size_ + count) / kReportEvery != size_ / kReportEvery) written_(size_ + count);
    size_ += count;
    if (expected_data_ && size_ - released_ >= kReleaseEvery) {
      expected_data_->Release(0, static_cast<size_t>(size_));
      released_ = size_;
    }
    return true;
  }

  const TreeFile* expected_;
  const std::function<void(uint64_t)> written_;
  std::shared_ptr<const FileData> expected_data_;
  Bytes kept_;
  uLong crc_ = crc32(0, Z_NULL, 0);
  uint64_t size_ = 0, released_ = 0;
  bool equal_ = true;
  const RebuiltSink sink_ = [this](const uint8_t* bytes, size_t count) { return Take(bytes, count); };
};

// Ends the run: thrown inside SimulateRun only.
struct Stop {
  RunEnd end;
  std::string path;
  std::string reason;
};

class Run {
 public:
  Run(const PatchResources& resources, InstallationModel& installation, const RunHooks& hooks)
      : resources_(resources), installation_(installation), hooks_(hooks) {}

  void Go(RunResult& result) {
    FilePatchList list = Plan(result);
    std::vector<bool> checksum_needed = Preflight(list);
    for (const auto& entry : list) total_ += NewBytes(*entry);
    for (size_t i = 0; i < list.size(); ++i) {
      const FilePatch& entry = *list[i];
      EntryRecord record{entry.kind, TreePath(entry), EntryOutcome::Written};
      Report(record.path, 0);
      record.outcome = Apply(entry, record.path, checksum_needed[i]);
      done_ += NewBytes(entry);
      result.entries.push_back(record);
    }
    Report("", 0);
  }

 private:
  // What the entry writes, as its manifest says.
  static uint64_t NewBytes(const FilePatch& entry) {
    const int64_t size = entry.kind == Deleted ? 0 : ParseInt64(entry.size);
    return size > 0 ? static_cast<uint64_t>(size) : 0;
  }

  // The entries done, and `within` bytes of the one at work.
  void Report(const std::string& path, uint64_t within) {
    if (hooks_.progress) hooks_.progress(path, done_ + within, total_);
  }

  FilePatchList Plan(RunResult& result) {
    const WideText base = FreshInstallationDirectory();
    const FileChecksum checksum = [&](const WideText& path, NarrowText& text) {
      if (path.compare(0, base.size(), base) != 0) return false;
      std::string relative = WideToUtf8(path.substr(base.size()));
      std::replace(relative.begin(), relative.end(), '\\', '/');
      const InstallationModel::File* file = installation_.Find(relative);
      if (file == nullptr || file->content.size() == 0 || file->content.size() >= kChecksumLimit) return false;
      text = ChecksumText(file->content.Crc());
      return true;
    };
    const DataResourceLoader load = [&](int id) {
      result.packs.push_back(id & 0xFFFF);
      return Resource(id);
    };
    FilePatchList list;
    try {
      result.required_space = CollectFilePatches(list, base, load, checksum);
    } catch (const std::exception& e) {
      throw Stop{RunEnd::InternalError, "", std::string("the patcher stops with \"") + e.what() +
                                                "\" while it reads its manifests"};
    }
    // The main manifest is read first of all; it is no pack.
    result.packs.erase(std::remove(result.packs.begin(), result.packs.end(), kMainManifestId),
                       result.packs.end());
    return list;
  }

  DataResource Resource(int id) const {
    const auto found = resources_.find(id & 0xFFFF);
    if (found == resources_.end()) RaiseInternalError("Cannot find resource");
    if (found->second.empty()) RaiseInternalError("Cannot get resource length");
    return DataResource{found->second.data(), static_cast<uint32_t>(found->second.size())};
  }

  // Which entries' installed files must have their checksum read.
  std::vector<bool> Preflight(const FilePatchList& list) {
    std::vector<bool> checksum_needed(list.size(), false);
    for (size_t i = 0; i < list.size(); ++i) {
      const FilePatch& entry = *list[i];
      const std::string path = TreePath(entry);
      const InstallationModel::File* file = installation_.Find(path);
      if (entry.kind == Added && file != nullptr) installation_.Remove(path);
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

  EntryOutcome Apply(const FilePatch& entry, const std::string& path, bool checksum_needed) {
    const InstallationModel::File* file = installation_.Find(path);
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
        installation_.Remove(path);
        return EntryOutcome::Removed;
      case Added:
        if (file != nullptr) installation_.Remove(path);
        Install(entry, path, TreeFile(Extract(entry, path)));
        return EntryOutcome::Written;
      case Updated:
        return ApplyUpdated(entry, path, file, installed_crc);
    }
    throw Stop{RunEnd::Corrupted, path, "an entry of unknown kind"};
  }

  EntryOutcome ApplyUpdated(const FilePatch& entry, const std::string& path, const InstallationModel::File* file,
                            const NarrowText& installed_crc) {
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
    Bytes payload = Extract(entry, path);
    if (!entry.diff) {
      Install(entry, path, TreeFile(std::move(payload)));
      return EntryOutcome::Written;
    }
    if (file->content.size() >= kReadableLimit)
      throw Stop{RunEnd::DiskError, path, "the installed file is 2 GiB or more, beyond the diff applier"};
    const std::shared_ptr<const FileData> old_file = file->content.Load();
    RebuiltFile rebuilt(hooks_.expected ? hooks_.expected(path) : nullptr,
                        [&](uint64_t written) { Report(path, written); });
    ApplyCost cost;
    bool decoded = false;
    try {
      decoded = MeasureApply(old_file->span(), payload, rebuilt.Sink(), cost);
    } catch (const std::exception&) {
      decoded = false;
    }
    if (!decoded || rebuilt.size() >= kReadableLimit)
      throw Stop{RunEnd::DiskError, path, "the diff does not decode against the installed file"};
    if (hooks_.on_diff) hooks_.on_diff(path, cost);
    Install(entry, path, rebuilt.File());
    return EntryOutcome::Written;
  }

  // The payload's bytes as the patcher gets them into "new.dat".
  Bytes Extract(const FilePatch& entry, const std::string& path) {
    DataResource resource;
    try {
      resource = Resource(entry.id);
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
  void Install(const FilePatch& entry, const std::string& path, TreeFile written) {
    const int64_t size = ParseInt64(entry.size);
    if (size < 0 || written.size() != static_cast<uint64_t>(size) || ChecksumText(written.Crc()) != entry.crc)
      throw Stop{RunEnd::Corrupted, path,
                 "the written file has " + std::to_string(written.size()) + " bytes and checksum " +
                     ChecksumText(written.Crc()) + ", not the entry's " + entry.size + " and " + entry.crc};
    installation_.Put(path, hooks_.settle ? hooks_.settle(path, std::move(written)) : std::move(written));
  }

  const PatchResources& resources_;
  InstallationModel& installation_;
  const RunHooks& hooks_;
  uint64_t done_ = 0, total_ = 0;
};

}  // namespace

std::map<std::string, const TreeFile*> FilesByKey(const FileTree& tree) {
  std::map<std::string, const TreeFile*> files;
  for (const auto& entry : tree.files) files[FoldCase(entry.first)] = &entry.second;
  return files;
}

InstallationModel::InstallationModel(const FileTree& tree) {
  for (const auto& [path, content] : tree.files) Put(path, content);
}

const InstallationModel::File* InstallationModel::Find(const std::string& path) const {
  const auto found = files_.find(FoldCase(path));
  return found == files_.end() ? nullptr : &found->second;
}

void InstallationModel::Put(const std::string& path, TreeFile content) {
  files_[FoldCase(path)] = File{path, std::move(content)};
}

void InstallationModel::Remove(const std::string& path) { files_.erase(FoldCase(path)); }

RunResult SimulateRun(const PatchResources& resources, InstallationModel& installation, const RunHooks& hooks) {
  RunResult result;
  try {
    Run(resources, installation, hooks).Go(result);
  } catch (const Stop& stop) {
    result.end = stop.end;
    result.failed_path = stop.path;
    result.reason = stop.reason;
  }
  return result;
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
