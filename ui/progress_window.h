#pragma once
// The always-on-top progress window, run on a UI thread of its own. All
// operations are called on the main thread; each change is shown before the
// call returns. A text or bar position that a control already shows is not
// sent to it again; the setters of the current file and the bars return
// whether they sent anything.
#include "manifest/text.h"

// Starts the UI thread; returns when the hidden window exists. Raises
// InternalError "Cannot create GUI" when the common controls fail.
void CreateProgressWindow();
// Shows the final state, ends the UI thread, waits for it, closes the events.
void CloseProgressWindow();
void SetStatusText(const WideText& text);
bool SetCurrentFileText(const WideText& text);
// Fractions are clamped to 0..1; label "%.0f%%", bar truncated.
bool SetCurrentProgress(float fraction);
bool SetOverallProgress(float fraction);
