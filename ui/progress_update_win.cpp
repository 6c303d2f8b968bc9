// Showing the progress tree in the progress window.
#include <windows.h>

#include "ui/progress_display.h"
#include "ui/progress_tree.h"
#include "ui/progress_window.h"

ProgressDisplay& CurrentProgressDisplay() {
  static ProgressDisplay display = {SetCurrentFileText, SetCurrentProgress, SetOverallProgress};
  return display;
}

void UpdateProgress(ProgressReporter* node) {
  ProgressReporter* entry = NamedAncestor(node);
  if (!entry) return;
  const ProgressDisplay& display = CurrentProgressDisplay();
  bool changed = display.set_current_file_text(entry->name);
  changed |= display.set_current_progress(Fraction(*entry));
  if (ProgressReporter* root = RootReporterSlot()) changed |= display.set_overall_progress(Fraction(*root));
  // The short pause lets the UI thread repaint between blocks of file work;
  // an update that changed nothing on screen has nothing to repaint.
  if (changed) Sleep(1);
}
