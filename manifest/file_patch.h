#pragma once
// One file entry of the file plan, as a pack document lists it.
#include <cstdint>
#include <memory>
#include <vector>

#include "manifest/text.h"
#include "ui/progress_tree.h"

enum FilePatchKind : int32_t { Added = 0, Updated = 1, Deleted = 2 };

struct FilePatch {
  WideText dir_part;   // directory part of root\subpath, ending in its separator
  WideText name_part;  // file-name part
  FilePatchKind kind = Added;
  NarrowText crc_org;
  NarrowText size_org;
  NarrowText crc;
  NarrowText size;
  bool comp = false;
  bool diff = false;
  NarrowText diff_size;
  NarrowText comp_size;
  int32_t id = 0;
  WideText base_dir;  // installation directory, normalised, one trailing backslash
  // Progress nodes attached by the pre-flight pass (null until then). The
  // entry owns them through `progress_nodes`, so they live as long as the
  // file plan, which the run keeps until it returns.
  ProgressReporter* entry_progress = nullptr;
  ProgressReporter* crc_progress = nullptr;
  ProgressReporter* diff_progress = nullptr;
  ProgressReporter* payload_progress = nullptr;
  ProgressReporter* packed_progress = nullptr;
  std::vector<std::unique_ptr<ProgressReporter>> progress_nodes;
};

// The one ordered list of the run's entries; owns them.
using FilePatchList = std::vector<std::unique_ptr<FilePatch>>;
