#pragma once
// Where UpdateProgress sends what it shows. By default these are the progress
// window's own setters; a test program may point them elsewhere to watch the
// updates without a window.
#include "manifest/text.h"

struct ProgressDisplay {
  void (*set_current_file_text)(const WideText& text);
  void (*set_current_progress)(float fraction);
  void (*set_overall_progress)(float fraction);
};

// The display UpdateProgress uses; starts as the progress window.
ProgressDisplay& CurrentProgressDisplay();
