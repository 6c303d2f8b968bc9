#include "engine/patch_main.h"
#include "manifest/patch_manifest.h"

void RunPatch() { GetPatchManifest(); }
