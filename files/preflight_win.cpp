#include "files/file_crc.h"
#include "files/file_ops.h"
#include "files/preflight.h"

namespace {

// A stage node of the entry, appended under its named node.
ProgressReporter* AddStage(FilePatch& entry, uint64_t total) {
  entry.progress_nodes.push_back(std::make_unique<ProgressReporter>(total, entry.entry_progress));
  return entry.progress_nodes.back().get();
}

// Manifest sizes that do not parse count as 0; a negative one is read as
// the unsigned figure, like every byte count of the tree.
uint64_t Bytes(const NarrowText& text) { return static_cast<uint64_t>(ParseInt64(text)); }

// Payload, packed and diff nodes in that order, for an added or updated entry.
void AddPayloadStages(FilePatch& entry) {
  const bool rebuilt = entry.kind == Updated && entry.diff;
  entry.payload_progress = AddStage(entry, Bytes(rebuilt ? entry.diff_size : entry.size));
  if (entry.comp) entry.packed_progress = AddStage(entry, Bytes(entry.comp_size));
  if (rebuilt) entry.diff_progress = AddStage(entry, Bytes(entry.size));
}

// A run stopped between removing an updated entry's target and moving its
// verified replacement to the target's name leaves the target missing and
// the replacement beside it: "undiff.dat" for a diff, "new.dat" for a whole
// file. When that file has exactly the entry's size and CRC, the move is
// finished here and the entry then counts as already patched. It has to be
// done in this pass: entries clear the fixed temporary names of their
// directory before use, so an earlier entry of the same directory would
// remove the replacement before its own entry were reached. Anything else
// is left where it is.
bool FinishInterruptedReplacement(const FilePatch& entry, const WideText& target) {
  const WideText replacement = DirPart(target) + (entry.diff ? u"undiff.dat" : u"new.dat");
  int64_t size = 0;
  NarrowText crc;
  return PathExists(replacement) && GetFileSize64(replacement, size) && size == ParseInt64(entry.size) &&
         FileCrcText(replacement, nullptr, crc) && crc == entry.crc && RenamePath(replacement, target);
}

// The folder `path` names up to `end`; a drive's root keeps its separator,
// without which "C:" would name the current folder of that drive.
WideText FolderUpTo(const WideText& path, size_t end) {
  return path.substr(0, end > 0 && path[end - 1] == u':' ? end + 1 : end);
}

}  // namespace

bool EntryAvoidsLinks(const FilePatch& entry) {
  const WideText target = TargetPath(entry);
  // The installation folder, then every folder below it down to the target's.
  for (size_t end = NormalizePath(entry.base_dir, true).size(); end < target.size();
       end = target.find(u'\\', end + 1)) {
    if (IsLink(FolderUpTo(target, end))) return false;
  }
  if (IsFolderOrLink(target)) return false;
  if (entry.kind == Deleted) return true;
  for (const char16_t* name : {u"new.dat", u"undiff.dat", u"tmp_uncomp.dat"}) {
    if (IsFolderOrLink(DirPart(target) + name)) return false;
  }
  return true;
}

WideText TargetPath(const FilePatch& entry) {
  return NormalizePath(entry.base_dir + entry.dir_part + entry.name_part, true);
}

bool PreflightFilePatch(FilePatch& entry, ProgressReporter* root) {
  const WideText target = TargetPath(entry);
  entry.progress_nodes.push_back(std::make_unique<ProgressReporter>(root, NormalizePath(target, true)));
  entry.entry_progress = entry.progress_nodes.back().get();
  if (!EntryAvoidsLinks(entry)) return false;
  const int64_t newSize = ParseInt64(entry.size);
  const int64_t oldSize = ParseInt64(entry.size_org);

  switch (entry.kind) {
    case Deleted:
      return true;
    case Added:
      if (PathExists(target) && !RemoveTarget(target)) return false;
      AddPayloadStages(entry);
      return true;
    case Updated: {
      int64_t installed = 0;
      if (!PathExists(target) && !FinishInterruptedReplacement(entry, target)) return false;
      if (!GetFileSize64(target, installed)) return false;
      if (installed == newSize) {
        entry.crc_progress = AddStage(entry, static_cast<uint64_t>(installed));
      } else if (installed != oldSize) {
        return false;
      }
      AddPayloadStages(entry);
      return true;
    }
  }
  return false;
}
