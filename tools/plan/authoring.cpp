#include "tools/plan/authoring.h"


#include <algorithm>
#include <atomic>
#include <exception>
#include <set>
#include <thread>

#include "engine/version.h"
#include "tools/common/authoring_error.h"
#include "tools/common/parallel.h"
#include "tools/payload/payload.h"
#include "tools/tree/paths.h"

namespace {

bool HasControlCharacter(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; });
}

void CheckText(const std::string& what, const std::string& text) {
  if (HasControlCharacter(text) || !ValidUtf8(text))
    throw AuthoringError(what + " must be UTF-8 text without control characters");
}

// The patcher adds files before it deletes any, and a folder is never
// removed, so a path that is a file in one version and a folder in the
// other cannot be patched. Compared without case, as Windows does.
void CheckFileFolderClash(const Variant& v) {
  auto folded_folders = [](const FileTree& tree) {
    std::set<std::string> folded;
    for (const auto& folder : FoldersOf(tree)) folded.insert(FoldCase(folder));
    return folded;
  };
  const std::set<std::string> old_folders = folded_folders(v.old_tree), new_folders = folded_folders(v.new_tree);
  for (const auto& entry : v.new_tree.files)
    if (old_folders.count(FoldCase(entry.first)))
      throw AuthoringError("a folder of the old version is a file in the new one: " + entry.first);
  for (const auto& entry : v.old_tree.files)
    if (new_folders.count(FoldCase(entry.first)))
      throw AuthoringError("a file of the old version is a folder in the new one: " + entry.first);
}

// A file the patch adds, or a folder it makes for one, under a name of the
// form of a short name ("DATA~1.PAK"): on a volume that keeps short names it
// may be the short name of another file or folder of the installation, which
// the patcher would then remove to make room for it (or write into).
// Names the old version already has are that file's own.
void CheckShortNameForms(const Variant& v, const VariantPlan& plan) {
  std::set<std::string> old_names;
  for (const auto& entry : v.old_tree.files) old_names.insert(FoldCase(entry.first));
  for (const auto& folder : FoldersOf(v.old_tree)) old_names.insert(FoldCase(folder));
  for (const auto& [key, change] : plan.changes) {
    if (change.kind != Added || change.old_file != nullptr) continue;
    for (size_t start = 1; start <= change.path.size();) {
      size_t end = change.path.find('/', start);
      if (end == std::string::npos) end = change.path.size();
      const std::string prefix = change.path.substr(0, end);
      if (!old_names.count(FoldCase(prefix)) && HasShortNameForm(change.path.substr(start, end - start)))
        throw AuthoringError("the new name " + prefix + " of " + v.name + " has the form of a short (8.3) name, "
                             "which Windows may have given another file or folder of the installation; the patcher "
                             "would remove that one to make room for it: rename it");
      start = end + 1;
    }
  }
}

// Matches the old and new tree path by path, as the installation's file
// system finds them: a file whose name changed only in the case of A-Z is
// one file. A change of case beyond A-Z is refused: on a volume whose
// upcase table folds the letter the file would be left under its old name
// (or added and then deleted as the old one), on one that does not the
// patcher would find no file to update.
// `progress` (may be empty) hears of the comparison of files that have the
// same size in both trees, the only ones whose bytes are read: the
// variant's number of `count`, and the bytes compared so far.
VariantPlan PlanVariant(const Variant& v, const std::function<void(const BuildProgress&)>& progress, size_t index,
                        size_t count) {
  VariantPlan plan;
  std::map<std::string, const std::pair<const std::string, TreeFile>*> old_by_key;
  for (const auto& entry : v.old_tree.files) old_by_key.emplace(FoldCase(entry.first), &entry);
  uint64_t compared = 0, to_compare = 0;
  if (progress) {
    for (const auto& [path, file] : v.new_tree.files) {
      const auto old = old_by_key.find(FoldCase(path));
      if (old != old_by_key.end() && old->second->second.size() == file.size()) to_compare += file.size();
    }
  }
  for (const auto& [path, file] : v.new_tree.files) {
    const std::string key = FoldCase(path);
    const auto old = old_by_key.find(key);
    if (progress && old != old_by_key.end() && old->second->second.size() == file.size()) {
      progress({"comparing", path, index, count, compared, to_compare});
      compared += file.size();
    }
    if (old == old_by_key.end()) {
      plan.changes[key] = {Added, path, nullptr, &file, ""};
      continue;
    }
    if (!SameOnEveryVolume(old->second->first, path))
      throw AuthoringError("a name changes in the case of a letter beyond A-Z, which Windows' file systems do "
                           "not all compare alike: " + old->second->first + " in the old version, " + path +
                           " in the new one of " + v.name + " (keep the old spelling)");
    const TreeFile& old_file = old->second->second;
    if (old_file.SameBytes(file)) {
      ++plan.unchanged_files;
      plan.unchanged_bytes += file.size();
      if (old->second->first != path) plan.names_kept.emplace_back(old->second->first, path);
      continue;
    }
    Change change{Updated, path, &old_file, &file, ""};
    if (file.size() == 0) {
      change.written_whole = "the new file is empty";
    } else if (old_file.size() >= kFileSizeLimit) {
      change.written_whole = "the old file is too large to be read";
    } else if (old_file.size() == file.size() && old_file.Crc() == file.Crc()) {
      change.written_whole = "old and new file have the same size and checksum";
    }
    if (!change.written_whole.empty()) change.kind = Added;
    plan.changes[key] = change;
  }
  CheckShortNameForms(v, plan);
  std::set<std::string> new_keys;
  for (const auto& entry : v.new_tree.files) new_keys.insert(FoldCase(entry.first));
  for (const auto& [key, entry] : old_by_key)
    if (!new_keys.count(key)) plan.changes[key] = {Deleted, entry->first, &entry->second, nullptr, ""};

  std::set<std::string> new_folders, old_folders, filled;
  for (const auto& folder : FoldersOf(v.new_tree)) new_folders.insert(FoldCase(folder));
  for (const auto& folder : FoldersOf(v.old_tree)) {
    old_folders.insert(FoldCase(folder));
    if (!new_folders.count(FoldCase(folder))) plan.folders_left.push_back(folder);
  }
  const FileTree files_only{v.new_tree.files, {}};
  for (const auto& folder : FoldersOf(files_only)) filled.insert(FoldCase(folder));
  for (const auto& folder : v.new_tree.folders)
    if (!filled.count(FoldCase(folder)) && !old_folders.count(FoldCase(folder)))
      plan.folders_not_made.push_back(folder);
  return plan;
}

bool SameChange(const Change& a, const Change& b) {
  if (a.kind != b.kind || a.path != b.path) return false;
  if (a.kind == Deleted) return true;
  if (a.kind == Updated && !a.old_file->SameBytes(*b.old_file)) return false;
  return a.new_file->SameBytes(*b.new_file);
}

// Files the patcher reads or writes through its 32-bit readers.
void CheckSizeLimits(const Change& change) {
  if (change.kind == Deleted) return;
  // A file written whole needs only its new version read by the patcher;
  // one rebuilt from a diff, both.
  const bool old_read = change.kind == Updated;
  if (change.new_file->size() < kFileSizeLimit && !(old_read && change.old_file->size() >= kFileSizeLimit)) return;
  // An updated file is one the old tree has, whether rebuilt or written whole.
  const std::string what = change.old_file == nullptr
                               ? "the added file " + change.path + " is " + SizeText(change.new_file->size())
                               : "the updated file " + change.path + " is " + SizeText(change.old_file->size()) +
                                     " in the old version and " + SizeText(change.new_file->size()) + " in the new one";
  throw AuthoringError(what + ", and the patcher reads and writes only files below 2 GiB (files of any size that do " +
                       "not change are left alone)");
}

// Fills the entry's sizes and checksums and returns the smallest payload
// that rebuilds the file (see MakePayload). Only this file's old and new
// bytes are mapped meanwhile, and the matcher gives their pages back as it
// goes.
Bytes PayloadOf(AuthoredFile& f, const TreeFile* old_tree_file, const TreeFile& new_tree_file,
                PayloadOptions options) {
  const std::shared_ptr<const FileData> new_bytes = new_tree_file.Load();
  f.size = new_bytes->size();
  std::shared_ptr<const FileData> old_bytes;
  ByteSpan old_span;
  if (f.kind == Updated) {
    old_bytes = old_tree_file->Load();
    f.size_org = old_bytes->size();
    old_span = old_bytes->span();
  }
  // The checksums of a file made on several threads are taken beside the
  // payload's work, which leaves a core idle now and then, rather than
  // before it.
  std::exception_ptr crc_error;
  const auto take_checksums = [&] {
    try {
      f.crc = new_tree_file.Crc();
      if (f.kind == Updated) f.crc_org = old_tree_file->Crc();
    } catch (...) {
      crc_error = std::current_exception();
    }
  };
  std::thread checksums;
  if (options.threads == 1) {
    take_checksums();
  } else {
    checksums = std::thread(take_checksums);
  }
  options.diff.release = [&](bool old, size_t from, size_t to) { (old ? *old_bytes : *new_bytes).Release(from, to); };
  Payload payload;
  try {
    payload = MakePayload(old_bytes ? &old_span : nullptr, new_bytes->span(), options);
  } catch (...) {
    if (checksums.joinable()) checksums.join();
    throw;
  }
  if (checksums.joinable()) checksums.join();
  if (crc_error) std::rethrow_exception(crc_error);
  f.comp = payload.comp;
  f.comp_size = payload.comp ? payload.bytes.size() : 0;
  f.diff = payload.diff;
  f.diff_size = payload.diff_size;
  if (payload.bytes.size() >= kFileSizeLimit) throw AuthoringError("payload of 2 GiB or more for " + f.subpath);
  return std::move(payload.bytes);
}

// Each variant's old and new files by FoldCase key, for finding a path in
// any case.
struct VariantIndex {
  std::map<std::string, const TreeFile*> old_files, new_files;
};

std::vector<VariantIndex> IndexVariants(const std::vector<Variant>& variants) {
  std::vector<VariantIndex> index(variants.size());
  for (size_t i = 0; i < variants.size(); ++i) {
    for (const auto& entry : variants[i].old_tree.files) index[i].old_files[FoldCase(entry.first)] = &entry.second;
    for (const auto& entry : variants[i].new_tree.files) index[i].new_files[FoldCase(entry.first)] = &entry.second;
  }
  return index;
}

const TreeFile* Find(const std::map<std::string, const TreeFile*>& files, const std::string& path) {
  const auto found = files.find(FoldCase(path));
  return found == files.end() ? nullptr : found->second;
}

// `path` as `tree` spells it. The patcher looks the key file up by the name
// its group gives, and a letter beyond A-Z in another case may not find it.
std::string SpelledIn(const FileTree& tree, const std::string& path) {
  const std::string key = FoldCase(path);
  for (const auto& entry : tree.files)
    if (FoldCase(entry.first) == key) return entry.first;
  return path;
}

// Why `path` cannot tell the variants apart, or empty when it can: it must
// be in every old and new tree, non-empty and below 2 GiB, and no checksum
// it has in one variant (old or new) may be one it has in another.
std::string KeyFileProblem(const std::vector<Variant>& variants, const std::vector<VariantIndex>& index,
                           const std::string& path) {
  std::vector<std::pair<uint32_t, uint32_t>> sums;
  for (size_t i = 0; i < variants.size(); ++i) {
    const Variant& v = variants[i];
    std::pair<uint32_t, uint32_t> sum;
    for (const bool old : {true, false}) {
      const char* which = old ? "old" : "new";
      const TreeFile* found = Find(old ? index[i].old_files : index[i].new_files, path);
      if (found == nullptr) return "it is not in the " + std::string(which) + " tree of " + v.name;
      if (found->size() == 0)
        return "it is empty in the " + std::string(which) + " tree of " + v.name + ", and an empty file has no checksum";
      if (found->size() >= kFileSizeLimit)
        return "it is 2 GiB or more in the " + std::string(which) + " tree of " + v.name;
      (old ? sum.first : sum.second) = found->Crc();
    }
    sums.push_back(sum);
  }
  for (size_t i = 0; i < sums.size(); ++i)
    for (size_t j = i + 1; j < sums.size(); ++j) {
      const auto& a = sums[i];
      const auto& b = sums[j];
      if (a.first == b.first || a.first == b.second || a.second == b.first || a.second == b.second)
        return variants[i].name + " and " + variants[j].name + " share a checksum of it, old or new";
    }
  return "";
}

// "./bin\game.exe" and "/bin/game.exe" both name "/bin/game.exe".
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

std::string ChooseKeyFile(const std::vector<Variant>& variants, const std::vector<VariantIndex>& index,
                          const std::vector<VariantPlan>& plans, const std::string& requested) {
  if (!requested.empty()) {
    const std::string path = KeyFilePath(requested);
    const std::string problem = KeyFileProblem(variants, index, path);
    if (!problem.empty())
      throw AuthoringError("key file " + requested + " cannot tell the variants apart: " + problem +
                           " (the key file must be in every old and new tree, non-empty, with a different "
                           "checksum in each variant, old and new)");
    return path;
  }
  // Prefer the files the variants change on their own, then any old file.
  std::vector<std::string> candidates;
  for (const auto& plan : plans)
    for (const auto& entry : plan.changes) candidates.push_back(entry.second.path);
  std::sort(candidates.begin(), candidates.end());
  for (const auto& entry : variants[0].old_tree.files) candidates.push_back(entry.first);
  for (const auto& path : candidates)
    if (KeyFileProblem(variants, index, path).empty()) return path;
  throw AuthoringError(
      "the variants differ but no file tells them apart: a key file must be in every old and new tree, "
      "non-empty, with a different checksum in each variant, old and new");
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A variant's new tree that keeps almost nothing of its old one, or whose
// own changes mostly restore another variant's old files, was probably
// paired with the wrong old tree.
void WarnOfPairing(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                   const std::map<std::string, Change>& common, std::vector<std::string>& warnings) {
  for (size_t i = 0; i < variants.size(); ++i) {
    const size_t files = variants[i].new_tree.files.size();
    if (files >= 4 && plans[i].unchanged_files * 10 < files && !variants[i].old_tree.files.empty())
      warnings.push_back(variants[i].name + ": its new tree keeps only " + std::to_string(plans[i].unchanged_files) +
                         " of " + std::to_string(files) +
                         " files of its old tree unchanged: are --old and --new the same game?");
    size_t own_updates = 0;
    std::map<size_t, size_t> restored;  // other variant -> own updates that are its old file
    for (const auto& [key, change] : plans[i].changes) {
      if (change.kind != Updated || common.count(key)) continue;
      ++own_updates;
      for (size_t j = 0; j < variants.size(); ++j) {
        if (j == i) continue;
        const auto theirs = plans[j].changes.find(key);
        const TreeFile* their_old = theirs != plans[j].changes.end() ? theirs->second.old_file : nullptr;
        if (their_old != nullptr && their_old->SameBytes(*change.new_file)) ++restored[j];
      }
    }
    for (const auto& [j, count] : restored)
      if (count * 2 > own_updates)
        warnings.push_back(variants[i].name + ": " + std::to_string(count) + " of its " +
                           std::to_string(own_updates) + " own updated files become the old files of " +
                           variants[j].name + ": is its new tree " + variants[j].name + "'s?");
  }
}

void WarnOfPaths(const std::vector<Variant>& variants, const std::vector<VariantPlan>& plans,
                 std::vector<std::string>& warnings) {
  std::set<std::string> long_paths;
  for (size_t i = 0; i < variants.size(); ++i) {
    for (const auto& entry : plans[i].changes)
      if (entry.second.kind != Deleted && PathLengthBelowFolder(entry.second.path) > kWindowsPathLimit - kRoomWarned)
        long_paths.insert(entry.second.path);
    for (const auto& folder : plans[i].folders_not_made)
      warnings.push_back(variants[i].name + ": the empty folder " + folder +
                         " of the new version is not created (the patcher makes folders only for files)");
  }
  for (const auto& path : long_paths)
    warnings.push_back("path of " + std::to_string(PathLengthBelowFolder(path)) +
                       " characters: it fails when the game is installed in a folder of more than " +
                       std::to_string(kWindowsPathLimit - PathLengthBelowFolder(path)) + " characters: " + path);
}

// One added or updated entry whose payload is to be made: its place among
// the groups' files, and its change.
struct PayloadJob {
  size_t group;
  size_t file;
  const Change* change;
};

// Files below this size (old and new together) are made several at once,
// one thread each; larger ones one at a time, each on every thread, so that
// at most one large file is mapped at a time.
constexpr uint64_t kSharedThreadsFrom = uint64_t{4} << 20;

uint64_t JobBytes(const PayloadJob& job) {
  return job.change->new_file->size() + (job.change->kind == Updated ? job.change->old_file->size() : 0);
}

// Makes every job's payload, fills its entry and adds its resource. The
// first failure in entry order is raised, whatever the order the threads
// met them in.
void MakePayloads(const std::vector<PayloadJob>& jobs, BuiltPatch& patch, const BuildOptions& options) {
  std::vector<Bytes> payloads(jobs.size());
  std::vector<std::exception_ptr> errors(jobs.size());
  // The payloads' bytes bound the patch from below: once they exceed what a
  // patcher can load, nothing made after them can help.
  std::atomic<uint64_t> carried{0};
  std::atomic<bool> too_large{false};
  std::vector<char> made(jobs.size(), 0);
  const auto make = [&](size_t i, unsigned threads, bool report_stages) {
    if (too_large) return;
    const PayloadJob& job = jobs[i];
    AuthoredFile& f = patch.documents.groups[job.group].files[job.file];
    PayloadOptions payload_options;
    payload_options.effort = options.fast ? Effort::Fast : Effort::Best;
    payload_options.threads = threads;
    if (options.progress && report_stages)
      payload_options.progress = [&](const char* stage, uint64_t done, uint64_t total) {
        options.progress({stage, job.change->path, i + 1, jobs.size(), done, total});
      };
    try {
      payloads[i] = PayloadOf(f, job.change->old_file, *job.change->new_file, payload_options);
    } catch (...) {
      errors[i] = std::current_exception();
    }
    made[i] = 1;
    if ((carried += payloads[i].size()) > options.payload_limit) too_large = true;
  };
  std::vector<size_t> small;
  for (size_t i = 0; i < jobs.size(); ++i)
    if (JobBytes(jobs[i]) < kSharedThreadsFrom) small.push_back(i);
  ParallelFor(
      small.size(), options.threads, [&](size_t k) { make(small[k], 1, false); },
      [&](size_t done) {
        if (options.progress)
          options.progress({"payload", jobs[small[done - 1]].change->path, done, jobs.size(), 0, 1});
      });
  for (size_t i = 0; i < jobs.size() && !too_large; ++i) {
    if (JobBytes(jobs[i]) < kSharedThreadsFrom) continue;
    if (options.progress) options.progress({"payload", jobs[i].change->path, i + 1, jobs.size(), 0, 1});
    make(i, options.threads, true);
  }
  if (too_large) {
    std::vector<PayloadSize> sizes;
    for (size_t i = 0; i < jobs.size(); ++i)
      if (made[i])
        sizes.push_back({jobs[i].change->path, payloads[i].size(),
                         patch.documents.groups[jobs[i].group].files[jobs[i].file].diff});
    throw AuthoringError("the payloads of " + std::to_string(sizes.size()) + " of the " + std::to_string(jobs.size()) +
                         " files to carry already come to " + SizeText(carried) + ", more than the " +
                         SizeText(options.payload_limit) + " a patch may carry (a 32-bit process cannot be relied " +
                         "on to load a larger one): split the patch; " + LargestPayloads(sizes));
  }
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (errors[i]) std::rethrow_exception(errors[i]);
    const AuthoredFile& f = patch.documents.groups[jobs[i].group].files[jobs[i].file];
    patch.resources.push_back({static_cast<uint16_t>(f.id), std::move(payloads[i])});
  }
}

}  // namespace

std::string LargestPayloads(std::vector<PayloadSize> payloads, size_t most) {
  std::stable_sort(payloads.begin(), payloads.end(),
                   [](const PayloadSize& a, const PayloadSize& b) { return a.bytes > b.bytes; });
  std::string text = "the largest payloads:";
  for (size_t i = 0; i < payloads.size() && i < most; ++i)
    text += std::string(i ? "," : "") + " " + payloads[i].path + " " + SizeText(payloads[i].bytes) +
            (payloads[i].diff ? " (diff)" : " (whole file)");
  return text;
}

PatchManifest DefaultHeader(const std::string& from, const std::string& to) {
  PatchManifest header;
  header.from = from;
  header.to = to;
  header.reg_path = {"SOFTWARE\\Morrow\\QTR", "InstallDir"};
  header.reg_version = {"SOFTWARE\\Morrow\\QTR", "Version"};
  header.reg_version2 = {
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6D3A1F52-8B0C-4E57-9A21-0C7A5E1D0101}",
      "DisplayVersion"};
  header.reg_language = {"SOFTWARE\\Morrow\\QTR", "Lang"};
  return header;
}

void CheckVersions(const std::string& from, const std::string& to) {
  auto read = [](const std::string& text, const char* option) {
    const size_t dot = text.find('.');
    auto number = [](const std::string& digits, long limit) {
      if (digits.empty() || digits.size() > 5 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1L;
      const long value = std::stol(digits);
      return value < limit ? value : -1L;
    };
    if (dot == std::string::npos || number(text.substr(0, dot), 32768) < 0 ||
        number(text.substr(dot + 1), 65536) < 0)
      throw AuthoringError(std::string(option) + " " + text +
                           " is not a version: two numbers joined by a full stop, such as 1.00 (major below "
                           "32768, minor below 65536)");
    return ParseVersion(text);
  };
  const int32_t old_version = read(from, "--from");
  const int32_t new_version = read(to, "--to");
  auto spelled = [](int32_t version) {
    return std::to_string(version >> 16) + "." + std::to_string(version & 0xFFFF);
  };
  if (old_version == 0)
    throw AuthoringError("--from " + from + " reads as version 0.0, which the patcher takes for a damaged installation");
  if (new_version == old_version)
    throw AuthoringError("--from " + from + " and --to " + to + " are the same version for the patcher (both " +
                         spelled(old_version) + ": numbers, not texts, are compared); the patch would only ever "
                         "say it is already installed");
  if (new_version < old_version)
    throw AuthoringError("--to " + to + " is below --from " + from + " (" + spelled(new_version) + " < " +
                         spelled(old_version) + "); the patch would only ever say the game's version is higher");
}

BuiltPatch BuildPatch(const std::vector<Variant>& variants, const PatchManifest& header,
                      const BuildOptions& options) {
  if (variants.empty()) throw AuthoringError("no installation trees given");
  CheckVersions(header.from, header.to);
  for (const RegValue* r :
       {&header.reg_path, &header.reg_version, &header.reg_version2, &header.reg_language}) {
    if (r->key.empty() || r->value.empty()) throw AuthoringError("registry locations need a key and a value");
    CheckText("registry location", r->key);
    CheckText("registry location", r->value);
  }
  std::set<std::string> names;
  for (const auto& v : variants) {
    CheckText("variant name", v.name);
    if (variants.size() > 1 && !names.insert(v.name).second) throw AuthoringError("two variants named " + v.name);
  }

  BuiltPatch patch;
  for (const auto& v : variants) {
    for (const FileTree* tree : {&v.old_tree, &v.new_tree}) {
      for (const auto& entry : tree->files) CheckCarriablePath(entry.first);
      for (const auto& folder : tree->folders) CheckCarriablePath(folder);
    }
    CheckFileFolderClash(v);
    patch.plans.push_back(PlanVariant(v, options.progress, patch.plans.size() + 1, variants.size()));
  }
  const std::vector<VariantPlan>& plans = patch.plans;

  std::map<std::string, Change> common;
  for (const auto& [key, change] : plans[0].changes) {
    bool everywhere = true;
    for (size_t i = 1; i < plans.size() && everywhere; ++i) {
      const auto other = plans[i].changes.find(key);
      everywhere = other != plans[i].changes.end() && SameChange(change, other->second);
    }
    if (everywhere) common.emplace(key, change);
  }
  std::vector<std::map<std::string, Change>> own(variants.size());
  bool any_own = false;
  for (size_t i = 0; i < variants.size(); ++i)
    for (const auto& [key, change] : plans[i].changes)
      if (!common.count(key)) {
        own[i].emplace(key, change);
        any_own = true;
      }
  if (common.empty() && !any_own) {
    // New empty folders alone make no patch: the patcher makes folders only
    // for the files it writes.
    std::string folders;
    for (const auto& plan : plans)
      for (const auto& folder : plan.folders_not_made) folders += (folders.empty() ? "" : ", ") + folder;
    if (folders.empty()) throw AuthoringError("old and new installation are identical: nothing to patch");
    throw AuthoringError("old and new installation have identical files: nothing to patch (the patcher makes "
                         "folders only for files, so the new empty folders " + folders + " cannot be made)");
  }
  for (const auto& entry : common) CheckSizeLimits(entry.second);
  for (const auto& o : own)
    for (const auto& entry : o) CheckSizeLimits(entry.second);

  WarnOfPairing(variants, plans, common, patch.warnings);
  const std::vector<VariantIndex> index = IndexVariants(variants);
  std::string key;
  try {
    if (any_own) key = ChooseKeyFile(variants, index, plans, options.key_file);
  } catch (const AuthoringError& e) {
    // Trees given to the wrong editions share their key files' checksums.
    std::string hint;
    for (const auto& w : patch.warnings) hint += "; " + w;
    throw AuthoringError(e.what() + hint);
  }

  // Ids: 5001 for the main manifest, then each group's pack document followed
  // by one id per payload of its Added and Updated entries.
  size_t needed = 1, payloads = 0;
  auto count_group = [&](const std::map<std::string, Change>& group) {
    if (group.empty()) return;
    needed += 1;
    for (const auto& entry : group)
      if (entry.second.kind != Deleted) ++payloads;
  };
  count_group(common);
  for (const auto& o : own) count_group(o);
  needed += payloads;
  if (kFirstResourceId + needed - 1 > kLastResourceId)
    throw AuthoringError("the patch needs " + std::to_string(needed) + " resources, more than ids 5001..65535 hold");

  patch.documents.header = header;
  int next_id = kFirstResourceId + 1;
  std::vector<PayloadJob> jobs;
  auto make_group = [&](const std::map<std::string, Change>& group, AuthoredGroup g) {
    if (group.empty()) return;
    g.pack_id = next_id++;
    std::vector<const Change*> ordered;
    for (const auto& entry : group) ordered.push_back(&entry.second);
    std::sort(ordered.begin(), ordered.end(), [](const Change* a, const Change* b) { return a->path < b->path; });
    for (FilePatchKind kind : {Added, Updated, Deleted}) {
      for (const Change* change : ordered) {
        if (change->kind != kind) continue;
        AuthoredFile f;
        f.kind = kind;
        f.subpath = change->path;
        if (kind != Deleted) {
          f.id = next_id++;
          jobs.push_back({patch.documents.groups.size(), g.files.size(), change});
        }
        g.files.push_back(f);
      }
    }
    patch.documents.groups.push_back(std::move(g));
  };
  make_group(common, AuthoredGroup());
  for (size_t i = 0; i < variants.size(); ++i) {
    AuthoredGroup g;
    g.filtered = true;
    g.name = variants[i].name;
    if (!key.empty()) {
      g.filename = SpelledIn(variants[i].old_tree, key).substr(1);
      g.crc = Find(index[i].old_files, key)->Crc();
      g.crc2 = Find(index[i].new_files, key)->Crc();
    }
    make_group(own[i], g);
  }
  MakePayloads(jobs, patch, options);
  for (const auto& g : patch.documents.groups)
    patch.resources.push_back({static_cast<uint16_t>(g.pack_id), TextBytes(WritePackDocument(g))});
  patch.resources.push_back({static_cast<uint16_t>(kFirstResourceId), TextBytes(WriteMainManifest(patch.documents))});
  std::sort(patch.resources.begin(), patch.resources.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

  WarnOfPaths(variants, plans, patch.warnings);
  return patch;
}
