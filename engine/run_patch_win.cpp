#include "engine/patch_main.h"
#include "engine/patch_phases.h"
#include "engine/startup_checks.h"

void RunPatch() {
  WideText installation_directory;
  if (RunStartupChecks(installation_directory)) RunPatchPhases(installation_directory);
}
