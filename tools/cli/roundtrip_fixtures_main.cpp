// qtr_roundtrip_fixtures DIR: writes seeded old/new pairs, the diff streams
// the diff writer makes for them and the old-file page loads the apply-cost
// model counts for them (NAME.old, NAME.new, NAME.diff, NAME.loads), so that
// the patcher's own applier can rebuild them through real files under Wine
// and its paged reader be held to the model's count.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "tools/diff/apply_cost.h"
#include "tools/diff/diff_writer.h"

namespace {

constexpr size_t kMiB = 1 << 20;

Bytes Random(std::mt19937& rng, size_t size) {
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// Edits in the ways releases change files: bytes changed in place, blocks
// inserted, removed and moved, and runs of the escape byte 0xA7.
Bytes Edit(std::mt19937& rng, Bytes bytes) {
  for (int step = 0; step < 24; ++step) {
    const size_t at = bytes.empty() ? 0 : rng() % bytes.size();
    const size_t length = 1 + rng() % 4096;
    switch (rng() % 5) {
      case 0:
        for (size_t i = at; i < std::min(bytes.size(), at + length); i += 1 + rng() % 7) bytes[i] ^= 0x5A;
        break;
      case 1: {
        const Bytes block = Random(rng, length);
        bytes.insert(bytes.begin() + at, block.begin(), block.end());
        break;
      }
      case 2:
        bytes.erase(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + length));
        break;
      case 3: {
        const size_t end = std::min(bytes.size(), at + length);
        Bytes block(bytes.begin() + at, bytes.begin() + end);
        bytes.erase(bytes.begin() + at, bytes.begin() + end);
        const size_t to = bytes.empty() ? 0 : rng() % bytes.size();
        bytes.insert(bytes.begin() + to, block.begin(), block.end());
        break;
      }
      default:
        bytes.insert(bytes.begin() + at, 1 + rng() % 9, 0xA7);
        if (rng() % 2) bytes.insert(bytes.begin() + at, 0xA2 + rng() % 6);
        break;
    }
  }
  return bytes;
}

bool Write(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

struct Pair {
  const char* name;
  Bytes old_file, new_file;
};

// The pairs, from one seed: edits around the 1 MiB page size, blocks moved
// across pages, pages taken back to front, runs of the escape byte, and an
// empty file on either side.
std::vector<Pair> SeededPairs() {
  std::mt19937 rng(20261208);
  std::vector<Pair> pairs;
  const Bytes base = Random(rng, kMiB + 1);
  pairs.push_back({"edited_1mib_plus_1", base, Edit(rng, base)});
  const Bytes smaller(base.begin(), base.end() - 2);
  pairs.push_back({"edited_1mib_minus_1", smaller, Edit(rng, smaller)});
  const Bytes large = Random(rng, 3 * kMiB + 12345);
  Bytes moved = large;
  std::rotate(moved.begin(), moved.begin() + 2 * kMiB + 77, moved.end());
  pairs.push_back({"blocks_moved_across_pages", large, Edit(rng, moved)});
  // The new file takes the old one's pages back to front, each edited: the
  // cursor must seek back into earlier pages.
  const Bytes paged = Random(rng, 4 * kMiB + 999);
  Bytes backwards;
  for (size_t page = 4; page-- > 0;) {
    const Bytes part(paged.begin() + page * kMiB, paged.begin() + std::min(paged.size(), (page + 1) * kMiB + 999));
    const Bytes edited = Edit(rng, part);
    backwards.insert(backwards.end(), edited.begin(), edited.end());
  }
  pairs.push_back({"pages_back_to_front", paged, backwards});
  pairs.push_back({"escape_runs", Bytes(70000, 0xA7), Edit(rng, Bytes(70000, 0xA7))});
  pairs.push_back({"from_empty", Bytes(), Random(rng, 5000)});
  pairs.push_back({"to_empty", Random(rng, 5000), Bytes()});
  return pairs;
}

// The pair's old and new file, its diff and the old file's page loads as
// DIR/NAME.old, .new, .diff and .loads; false (with a message) when the
// diff does not rebuild the new file or a file cannot be written.
bool WritePair(const std::string& dir, const Pair& pair) {
  const std::string stem = dir + "/" + pair.name;
  const Bytes diff = WriteDiff(pair.old_file, pair.new_file);
  Bytes rebuilt;
  ApplyCost cost;
  if (!MeasureApply(pair.old_file, diff, rebuilt, cost) || rebuilt != pair.new_file) {
    std::fprintf(stderr, "qtr_roundtrip_fixtures: the diff of %s does not rebuild it\n", pair.name);
    return false;
  }
  const std::string loads = std::to_string(cost.page_loads) + "\n";
  if (!Write(stem + ".old", pair.old_file) || !Write(stem + ".new", pair.new_file) || !Write(stem + ".diff", diff) ||
      !Write(stem + ".loads", Bytes(loads.begin(), loads.end()))) {
    std::fprintf(stderr, "qtr_roundtrip_fixtures: cannot write %s\n", stem.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: qtr_roundtrip_fixtures DIR\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<Pair> pairs = SeededPairs();
  for (const Pair& pair : pairs)
    if (!WritePair(dir, pair)) return 1;
  std::printf("qtr_roundtrip_fixtures: %zu pairs in %s\n", pairs.size(), dir.c_str());
  return 0;
}
