#pragma once
// Watches what UpdateProgress shows by pointing the progress display at a
// recorder for the lifetime of this object.
#include <string>
#include <vector>

#include "ui/progress_display.h"

struct ProgressRecorder {
  struct Shown {
    char kind;  // 'f' current file, 'c' current bar, 'o' overall bar
    WideText text;
    float fraction;
  };
  static std::vector<Shown>& Log() {
    static std::vector<Shown> log;
    return log;
  }

  ProgressRecorder() : saved(CurrentProgressDisplay()) {
    Log().clear();
    CurrentProgressDisplay() = {[](const WideText& text) {
                                  Log().push_back({'f', text, 0.0f});
                                  return true;
                                },
                                [](float fraction) {
                                  Log().push_back({'c', u"", fraction});
                                  return true;
                                },
                                [](float fraction) {
                                  Log().push_back({'o', u"", fraction});
                                  return true;
                                }};
  }
  ~ProgressRecorder() { CurrentProgressDisplay() = saved; }
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  // The current-bar fractions shown, in order.
  std::vector<float> CurrentFractions() const {
    std::vector<float> fractions;
    for (const Shown& shown : Log())
      if (shown.kind == 'c') fractions.push_back(shown.fraction);
    return fractions;
  }

  ProgressDisplay saved;
};
