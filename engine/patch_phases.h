#pragma once
// The second half of the run, once the installation is known to be the one
// the patch starts from: file plan, checks, install phase, new version and
// the final message. Ends with the progress window closed.
#include "manifest/text.h"

void RunPatchPhases(const WideText& installationDirectory);
