#pragma once
// Where UpdateProgress sends what it shows. By default these are the progress
// window's own setters; a test program may point them elsewhere to watch the
// updates without a window. Each returns whether it changed what is shown.
#include "manifest/text.h"

struct ProgressDisplay {
  bool (*set_current_file_text)(const WideText& text);
  bool (*set_current_progress)(float fraction);
  bool (*set_overall_progress)(float fraction);
};

// The display UpdateProgress uses; starts as the progress window.
ProgressDisplay& CurrentProgressDisplay();
