#pragma once
// The pre-flight pass over one file entry, before anything is applied.
#include "manifest/file_patch.h"

class ProgressReporter;

// The entry's target path: base_dir, dir_part and name_part joined and
// normalised, as every step of the entry uses it.
WideText TargetPath(const FilePatch& entry);

// Whether nothing the entry touches lies behind a link: neither the
// installation folder, nor a folder below it on the way to the target, nor
// the target, nor a temporary name beside it is a reparse point, and neither
// the target nor a temporary name is a folder. The run has administrator
// rights and the installation may be writable by every user: a junction
// planted there would otherwise carry its writes, renames and deletions
// anywhere on the machine.
bool EntryAvoidsLinks(const FilePatch& entry);

// Checks that the installation can take `entry` and hangs its progress
// nodes under `root` (owned by the entry; sized from the manifest's byte
// counts). An updated entry passes when its file has the patched or the
// unpatched size; an added entry when a file standing at its target could be
// removed (it is removed here); a deleted entry always; none of them when a
// link lies on its way (EntryAvoidsLinks). False otherwise.
// When an updated entry's target is missing but an interrupted run left its
// verified replacement beside it (the entry's size and CRC), that file is
// moved to the target's name here and the entry passes as a patched file.
bool PreflightFilePatch(FilePatch& entry, ProgressReporter* root);
