#pragma once
// Message boxes of the run.

// The fixed English internal-error box: caption "Error!", text "An internal
// error has occured.", OK, error icon, topmost, no owner. Returns when it is
// dismissed.
void ShowInternalError();
