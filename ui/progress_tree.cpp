// Sums and fractions of the progress tree. Only the main thread touches it.
#include "ui/progress_tree.h"

ProgressReporter::ProgressReporter(uint64_t total_bytes, ProgressReporter* parent_node)
    : parent(parent_node), total_(total_bytes), done_(0), subtree_total_(total_bytes), subtree_done_(0) {
  if (!parent) return;
  parent->children.push_back(this);
  for (ProgressReporter* above = parent; above; above = above->parent) above->subtree_total_ += total_bytes;
}

ProgressReporter::ProgressReporter(ProgressReporter* parent_node, const WideText& entry_name)
    : parent(parent_node), name(entry_name), total_(0), done_(0), subtree_total_(0), subtree_done_(0) {
  if (parent) parent->children.push_back(this);
}

ProgressReporter::~ProgressReporter() {
  children.clear();
  name.clear();
}

uint64_t TotalBytes(const ProgressReporter& node) { return node.subtree_total_; }

uint64_t DoneBytes(const ProgressReporter& node) { return node.subtree_done_; }

float Fraction(const ProgressReporter& node) {
  const double total = static_cast<double>(TotalBytes(node));
  if (total < 1.0) return 0.0f;
  const float fraction = static_cast<float>(static_cast<double>(DoneBytes(node)) / total);
  if (fraction < 0.0f) return 0.0f;
  if (fraction > 1.0f) return 1.0f;
  return fraction;
}

void MarkComplete(ProgressReporter& node) {
  SetDoneCapped(node, node.total());
  for (ProgressReporter* child : node.children) MarkComplete(*child);
}

ProgressReporter* NamedAncestor(ProgressReporter* node) {
  for (; node; node = node->parent) {
    if (!node->name.empty()) return node;
  }
  return nullptr;
}

void SetDoneCapped(ProgressReporter& node, uint64_t count) {
  const uint64_t done = count < node.total_ ? count : node.total_;
  // Unsigned arithmetic: adding the difference modulo 2^64 also lowers a sum.
  const uint64_t change = done - node.done_;
  node.done_ = done;
  for (ProgressReporter* at = &node; at; at = at->parent) at->subtree_done_ += change;
}

ProgressReporter*& RootReporterSlot() {
  static ProgressReporter* root = nullptr;
  return root;
}
