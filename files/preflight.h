#pragma once
// The pre-flight pass over one file entry, before anything is applied.
#include "manifest/file_patch.h"

class ProgressReporter;

// The entry's target path: base_dir, dir_part and name_part joined and
// normalised, as every step of the entry uses it.
WideText TargetPath(const FilePatch& entry);

// Checks that the installation can take `entry` and hangs its progress
// nodes under `root` (owned by the entry; sized from the manifest's byte
// counts). An updated entry passes when its file has the patched or the
// unpatched size; an added entry when a file standing at its target could be
// removed (it is removed here); a deleted entry always. False otherwise.
// When an updated entry's target is missing but an interrupted run left its
// verified replacement beside it (the entry's size and CRC), that file is
// moved to the target's name here and the entry passes as a patched file.
bool PreflightFilePatch(FilePatch& entry, ProgressReporter* root);
