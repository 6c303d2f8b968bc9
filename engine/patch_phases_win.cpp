#include <windows.h>

#include <set>

#include "engine/language.h"
#include "engine/patch_phases.h"
#include "engine/registry.h"
#include "engine/startup_checks.h"
#include "engine/strings.h"
#include "files/apply_file_patch.h"
#include "files/file_ops.h"
#include "files/preflight.h"
#include "files/win_text_win.h"
#include "manifest/group_selection.h"
#include "manifest/patch_manifest.h"
#include "ui/message_box.h"
#include "ui/progress_tree.h"
#include "ui/progress_window.h"

namespace {

// The root of the run's progress tree, published for the progress updates
// while the run lasts and withdrawn when it ends.
class RunProgressRoot {
 public:
  RunProgressRoot() : node_(nullptr, WideText()) { RootReporterSlot() = &node_; }
  ~RunProgressRoot() { RootReporterSlot() = nullptr; }
  ProgressReporter* get() { return &node_; }

 private:
  ProgressReporter node_;
};

// Whether the installation's drive lacks `required` bytes for this user.
// Both figures are compared unsigned, so a negative total counts as more
// than any drive holds. A failed query skips the test.
bool LacksFreeSpace(const WideText& directory, int64_t required) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(WinText(directory), &available, nullptr, nullptr)) return false;
  return static_cast<uint64_t>(required) > available.QuadPart;
}

WideText Text(int id) { return LoadLocalizedString(CurrentLanguage(), id); }

// Once every entry is done, no temporary name is left in a folder where the
// run writes: one whose removal after use failed, or one an earlier run left
// beside a file that was already patched, would otherwise stay there for
// good. False when one could not be removed.
bool RemoveTemporaryFiles(const FilePatchList& plan) {
  std::set<WideText> folders;
  for (const auto& entry : plan) {
    if (entry->kind != Deleted) folders.insert(DirPart(TargetPath(*entry)));
  }
  for (const WideText& folder : folders) {
    for (const char16_t* name : {u"new.dat", u"undiff.dat", u"tmp_uncomp.dat"}) {
      if (!RemoveLeftover(folder + name)) return false;
    }
  }
  return true;
}

// The new version, the uninstall entry's first: a run stopped between the two
// leaves the installed version as it was, so the next run installs the patch
// again and records both. A value that holds no text is left alone; one that
// could not be written ends the run as a disk error, so that the next run
// records it.
bool RecordNewVersion(const PatchManifest& manifest) {
  return WriteRegistryText(manifest.reg_version2, manifest.to) != RegistryWrite::kFailed &&
         WriteRegistryText(manifest.reg_version, manifest.to) != RegistryWrite::kFailed;
}

}  // namespace

void RunPatchPhases(const WideText& installationDirectory) {
  FilePatchList plan;
  int64_t required = 0;
  if (!CollectFilePatches(plan, installationDirectory, required)) {
    EndRunWithError(IDS_DISK_ERROR);
    return;
  }
  RunProgressRoot root;

  for (const auto& entry : plan) {
    if (!PreflightFilePatch(*entry, root.get())) {
      EndRunWithError(IDS_INSTALL_CORRUPTED);
      return;
    }
  }
  UpdateProgress(root.get());
  if (LacksFreeSpace(installationDirectory, required)) {
    EndRunWithError(IDS_NO_DISK_SPACE);
    return;
  }

  SetStatusText(Text(IDS_STATUS_INSTALLING));
  SetCurrentFileText(WideText());
  for (const auto& entry : plan) {
    switch (ApplyFilePatch(*entry)) {
      case Done:
        break;
      case Mismatch:
        EndRunWithError(IDS_INSTALL_CORRUPTED);
        return;
      case DiskError:
        EndRunWithError(IDS_DISK_ERROR);
        return;
    }
  }

  if (!RemoveTemporaryFiles(plan) || !RecordNewVersion(GetPatchManifest())) {
    EndRunWithError(IDS_DISK_ERROR);
    return;
  }
  SetStatusText(Text(IDS_CAPTION_SUCCESS));
  SetCurrentFileText(WideText());
  ShowMessage(IDS_CAPTION_SUCCESS, IDS_PATCH_INSTALLED, kNoticeStyle);
  StopSounds();
  CloseProgressWindow();
}
