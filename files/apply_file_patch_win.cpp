#include "diff/apply_diff.h"
#include "files/apply_file_patch.h"
#include "files/file_crc.h"
#include "files/file_ops.h"
#include "files/payload.h"
#include "files/preflight.h"

namespace {

// Whether what a writer produced is exactly the file the entry names: the
// digest is taken while writing, so the new file is never read again.
bool IsEntryContent(const FilePatch& entry, const WrittenDigest& digest) {
  const int64_t size = ParseInt64(entry.size);
  return size >= 0 && digest.size == static_cast<uint64_t>(size) && CrcText(digest.crc32) == entry.crc;
}

// Extracts the payload to "new.dat". A failed extraction may leave a partly
// written uncompressed payload; it is removed here so that no temporary file
// outlives the entry.
bool Extract(const FilePatch& entry, const WideText& newDat, WrittenDigest* digest) {
  if (ExtractPayload(entry, newDat, digest) == 0) return true;
  if (PathExists(newDat)) DeletePath(newDat);
  return false;
}

ApplyResult Finish(FilePatch& entry) {
  if (entry.entry_progress != nullptr) {
    MarkComplete(*entry.entry_progress);
    UpdateProgress(entry.entry_progress);
  }
  return Done;
}

ApplyResult ApplyDeleted(FilePatch& entry, const WideText& target, bool exists) {
  if (exists && !RemoveTarget(target)) return DiskError;
  return Finish(entry);
}

ApplyResult ApplyAdded(FilePatch& entry, const WideText& target, bool exists) {
  if (exists && !RemoveTarget(target)) return DiskError;
  const WideText newDat = DirPart(target) + u"new.dat";
  WrittenDigest digest;
  if (!Extract(entry, newDat, &digest)) return DiskError;
  if (!IsEntryContent(entry, digest)) {
    DeletePath(newDat);
    return Mismatch;
  }
  if (!RenamePath(newDat, target)) {
    DeletePath(newDat);
    return DiskError;
  }
  return Finish(entry);
}

// Builds the replacement of an updated entry beside the target: "new.dat"
// itself for a whole-file payload, "undiff.dat" rebuilt from the installed
// file for a diff. On any failure its temporary files are gone again.
ApplyResult BuildReplacement(FilePatch& entry, const WideText& target, WideText& replacement) {
  const WideText newDat = DirPart(target) + u"new.dat";
  // A diff is checked by the file rebuilt from it, so its own CRC-32 is not taken.
  WrittenDigest digest;
  if (!Extract(entry, newDat, entry.diff ? nullptr : &digest)) return DiskError;
  replacement = newDat;
  if (entry.diff) {
    const WideText undiff = DirPart(target) + u"undiff.dat";
    if (!RemoveLeftover(undiff)) {
      DeletePath(newDat);
      return DiskError;
    }
    const bool rebuilt = ApplyDiff(undiff, target, newDat, entry.diff_progress, &digest);
    DeletePath(newDat);
    if (!rebuilt) {
      DeletePath(undiff);
      return DiskError;
    }
    replacement = undiff;
  }
  if (!IsEntryContent(entry, digest)) {
    DeletePath(replacement);
    return Mismatch;
  }
  return Done;
}

ApplyResult ApplyUpdated(FilePatch& entry, const WideText& target, bool exists, int64_t installedSize,
                         const NarrowText& installedCrc) {
  if (!exists) return Mismatch;
  if (installedSize == ParseInt64(entry.size)) {
    if (installedCrc == entry.crc) return Finish(entry);
    if (installedCrc != entry.crc_org) return Mismatch;
  }
  if (installedSize != ParseInt64(entry.size_org)) return Mismatch;

  WideText replacement;
  const ApplyResult built = BuildReplacement(entry, target, replacement);
  if (built != Done) return built;
  RemoveTarget(target);
  if (PathExists(target)) {
    DeletePath(replacement);
    return DiskError;
  }
  // On failure the verified replacement is kept for recovery (see header).
  if (!RenamePath(replacement, target)) return DiskError;
  return Finish(entry);
}

}  // namespace

ApplyResult ApplyFilePatch(FilePatch& entry) {
  if (entry.entry_progress != nullptr) UpdateProgress(entry.entry_progress);
  // Checked again here: a link may have been made since the pre-flight pass.
  if (!EntryAvoidsLinks(entry)) return Mismatch;
  const WideText target = TargetPath(entry);
  // A file that could be measured exists, so only a failed measurement needs
  // the existence test. A deleted entry needs no size. Only a file the file
  // system says is not there counts as absent: one whose existence could not
  // be told would otherwise be left in place as already deleted.
  int64_t installedSize = 0;
  const bool measured = entry.kind != Deleted && GetFileSize64(target, installedSize);
  const bool exists = measured || !IsAbsent(target);
  NarrowText installedCrc;
  if (exists) {
    if (!measured && entry.kind != Deleted) return DiskError;
    if (entry.crc_progress != nullptr && !FileCrcText(target, entry.crc_progress, installedCrc))
      return DiskError;
  }
  switch (entry.kind) {
    case Deleted:
      return ApplyDeleted(entry, target, exists);
    case Added:
      return ApplyAdded(entry, target, exists);
    case Updated:
      return ApplyUpdated(entry, target, exists, installedSize, installedCrc);
  }
  return Mismatch;
}
