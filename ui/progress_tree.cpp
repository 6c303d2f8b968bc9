// Sums and fractions of the progress tree. Every value is recomputed from the
// nodes on each call: the tree is small (a few nodes per file entry) and only
// the main thread touches it.
#include "ui/progress_tree.h"

ProgressReporter::ProgressReporter(uint64_t total_bytes, ProgressReporter* parent_node)
    : parent(parent_node), total(total_bytes), done(0) {
  if (parent) parent->children.push_back(this);
}

ProgressReporter::ProgressReporter(ProgressReporter* parent_node, const WideText& entry_name)
    : parent(parent_node), name(entry_name), total(0), done(0) {
  if (parent) parent->children.push_back(this);
}

ProgressReporter::~ProgressReporter() {
  children.clear();
  name.clear();
}

uint64_t TotalBytes(const ProgressReporter& node) {
  uint64_t sum = node.total;
  for (const ProgressReporter* child : node.children) sum += TotalBytes(*child);
  return sum;
}

uint64_t DoneBytes(const ProgressReporter& node) {
  uint64_t sum = node.done;
  for (const ProgressReporter* child : node.children) sum += DoneBytes(*child);
  return sum;
}

float Fraction(const ProgressReporter& node) {
  const double total = static_cast<double>(TotalBytes(node));
  if (total < 1.0) return 0.0f;
  const float fraction = static_cast<float>(static_cast<double>(DoneBytes(node)) / total);
  if (fraction < 0.0f) return 0.0f;
  if (fraction > 1.0f) return 1.0f;
  return fraction;
}

void MarkComplete(ProgressReporter& node) {
  node.done = node.total;
  for (ProgressReporter* child : node.children) MarkComplete(*child);
}

ProgressReporter* NamedAncestor(ProgressReporter* node) {
  for (; node; node = node->parent) {
    if (!node->name.empty()) return node;
  }
  return nullptr;
}

void SetDoneCapped(ProgressReporter& node, uint64_t count) { node.done = count < node.total ? count : node.total; }

ProgressReporter*& RootReporterSlot() {
  static ProgressReporter* root = nullptr;
  return root;
}
