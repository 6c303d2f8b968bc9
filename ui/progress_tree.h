#pragma once
// The progress tree: byte counts of the steps that move data, summed into the
// current-file bar (the entry's named node) and the overall bar (the root).
// Every node keeps the sums of its subtree, brought up to date along the path
// to the root whenever a node joins or a count changes, so that the overall
// fraction of a patch of many thousand entries costs no walk over them all.
#include <cstdint>
#include <vector>

#include "manifest/text.h"

class ProgressReporter {
 public:
  // A stage node with its own byte total; appended to parent's children.
  ProgressReporter(uint64_t total, ProgressReporter* parent);
  // A named (entry) node with total 0; appended to parent's children.
  ProgressReporter(ProgressReporter* parent, const WideText& name);
  // Empties the child list and the name; the children are not owned.
  ~ProgressReporter();
  ProgressReporter(const ProgressReporter&) = delete;
  ProgressReporter& operator=(const ProgressReporter&) = delete;

  uint64_t total() const { return total_; }
  uint64_t done() const { return done_; }

  ProgressReporter* parent;
  WideText name;
  std::vector<ProgressReporter*> children;

 private:
  friend uint64_t TotalBytes(const ProgressReporter& node);
  friend uint64_t DoneBytes(const ProgressReporter& node);
  friend void SetDoneCapped(ProgressReporter& node, uint64_t count);

  uint64_t total_;
  uint64_t done_;
  uint64_t subtree_total_;  // total_ plus the totals of every node below
  uint64_t subtree_done_;   // done_ plus the counts of every node below
};

uint64_t TotalBytes(const ProgressReporter& node);
uint64_t DoneBytes(const ProgressReporter& node);
// Done over total of the subtree, clamped to 0..1; 0 when the total is 0.
float Fraction(const ProgressReporter& node);
// done = total on the node and, recursively, on every node below it.
void MarkComplete(ProgressReporter& node);
// The nearest node at or above `node` with a non-empty name, or null.
ProgressReporter* NamedAncestor(ProgressReporter* node);
// Sets done to `count`, lowered to total: the reporting convention of every
// step that moves data. The only way a count changes.
void SetDoneCapped(ProgressReporter& node, uint64_t count);

// The process-wide slot holding the root of the run's tree (empty at start).
ProgressReporter*& RootReporterSlot();

// Shows the state of the entry `node` belongs to and of the whole patch,
// then pauses 1 ms if that changed anything on screen; does nothing (no
// pause) without a named ancestor.
// Win32: drives the progress window.
void UpdateProgress(ProgressReporter* node);
