#pragma once
// Bringing one installation file into the state its file entry describes.
#include "manifest/file_patch.h"

// 0 Done: the entry is in its new state (also when it already was).
// 1 DiskError: reading, writing, removing or moving a file failed.
// 2 Mismatch: the installed file is missing or is neither the unpatched nor
//   the patched version, or the rebuilt file is not the one the entry names,
//   or a link now lies on the entry's way (see EntryAvoidsLinks).
enum ApplyResult : int { Done = 0, DiskError = 1, Mismatch = 2 };

// Applies `entry`, whose progress nodes the pre-flight pass has made. The
// new content is built beside the target ("new.dat", for a diff also
// "undiff.dat") and must have the entry's `size` and `crc` before it takes
// the target's place; otherwise the temporary files are removed, the target
// is left as it was and the result is Mismatch. A missing payload resource
// raises the loader's InternalError.
//
// Should the final move of an updated entry fail after the target was
// removed, the verified new file stays beside it under its temporary name
// ("undiff.dat", or "new.dat" for a whole-file payload); the next run's
// pre-flight pass moves it to the target's name (see preflight.h).
ApplyResult ApplyFilePatch(FilePatch& entry);
