#pragma once
// The first half of the run: language, instance guard, progress window,
// start question, running game, installation directory and version.
#include "manifest/text.h"

// Runs the start-up checks in their order. True when the installation is
// the one the patch starts from: `installation_directory` is then set and
// the progress window is open. False when the run has ended (its box shown
// and the window, if any, closed).
bool RunStartupChecks(WideText& installation_directory);

// Stops any sound still playing on behalf of the process.
void StopSounds();

// Box 203/text_id in the error (resp. notice) style, then StopSounds and
// CloseProgressWindow.
void EndRunWithError(int text_id);
void EndRunWithNotice(int text_id);
