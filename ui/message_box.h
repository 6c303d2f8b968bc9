#pragma once
// Message boxes of the run. Captions and texts come from the string tables
// of the current language; every box, the internal-error box included, gets
// its buttons relabelled with the localised button texts.
#include "manifest/text.h"

// Platform message-box flags of the four kinds of box.
constexpr unsigned kErrorStyle = 0x40010;   // OK, error icon, topmost
constexpr unsigned kNoticeStyle = 0x40040;  // OK, information icon, topmost
constexpr unsigned kQuestionStyle = 0x34;   // Yes and No, warning icon
constexpr unsigned kRetryStyle = 0x15;      // Retry and Cancel, error icon

// Platform ids of the buttons a box can return.
constexpr int kButtonOk = 1;
constexpr int kButtonCancel = 2;
constexpr int kButtonRetry = 4;
constexpr int kButtonYes = 6;
constexpr int kButtonNo = 7;

// Shows texts caption_id and text_id of the current language, owned by the
// progress window while it exists; returns the button pressed (0 when the
// box could not be shown).
int ShowMessage(int caption_id, int text_id, unsigned style);

// The start question: text 222 under `caption`, Yes and No, warning icon,
// with the same owner rule. Returns the button pressed.
int ConfirmStart(const WideText& caption);

// The fixed English internal-error box: caption "Error!", text "An internal
// error has occured.", OK, error icon, topmost, no owner. Returns when it is
// dismissed. Usable on any thread and with broken resources.
void ShowInternalError();
