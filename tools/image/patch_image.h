#pragma once
// The patcher executable: the stub patcher (the patcher built without patch
// resources) with a patch's "DATA" resources added, and the patch read back
// from such an executable (signed or not).
#include <string>

#include "tools/model/patch_model.h"
#include "tools/plan/authoring.h"

// What a stub patcher is: its processor ("i686" or "x86_64") and the
// version it was built as, from its "QTRVERSION" resource (empty for a
// stub built before stubs recorded one).
struct StubPatcher {
  std::string machine;
  std::string version;
};

// Raises AuthoringError unless `stub` is our stub patcher: a 32-bit Windows
// GUI executable with the progress dialog and the string tables of the
// eight languages, and no "DATA" resources yet.
StubPatcher CheckStubPatcher(const Bytes& stub);

// The stub with the patch's resources added, read back as a check of the
// resource tree itself. Raises AuthoringError for a stub CheckStubPatcher
// refuses and for an executable too large for a 32-bit process to load.
Bytes MakePatchExecutable(const Bytes& stub, const BuiltPatch& patch);

// The "DATA" resources of a patcher executable, as the patcher finds them
// (the first of each id; the tool writes each once, in US English). Raises
// AuthoringError naming `what` for a file that is no PE image or carries no
// main manifest.
PatchResources ReadPatchResources(const Bytes& image, const std::string& what);
