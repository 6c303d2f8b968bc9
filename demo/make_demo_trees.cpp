// Builds the sample installation of the demo: versions 1.00 and 1.01 of two
// editions ("censored" and "uncensored") of the game. Each edition's qtr.exe
// is the sample game executable of its version with generated asset data
// appended behind its image (as real game executables carry packed assets),
// to about 14 MB. The editions differ in part of their assets; from 1.00 to
// 1.01 assets are inserted, removed, moved and changed, as a real update
// does. Both versions carry the same data files, and 1.01 adds
// bundles/patch.bundle. Everything is generated from fixed seeds, so the same
// sample executables always give the same trees.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kTargetSize = 14 * 1000 * 1000;

// std::mt19937 is the same everywhere; the distributions are not, so only
// its raw output is used.
class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}
  uint32_t Next() { return static_cast<uint32_t>(rng_()); }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  std::mt19937 rng_;
};

// One asset of a given kind: smooth image-like samples, fixed-size table
// records, already-compressed (random) data, or text.
Bytes Asset(uint32_t seed, size_t size) {
  Generator g(seed);
  Bytes out;
  out.reserve(size);
  const uint32_t kind = seed % 4;
  static const char* const kWords[] = {"quarry", "tide", "stone",  "harbour", "crane", "rope",  "lantern",
                                       "north",  "salt", "barrow", "gull",    "iron",  "chalk", "wharf"};
  uint32_t value = g.Below(256), record = 0;
  while (out.size() < size) {
    switch (kind) {
      case 0:
        value = (value + g.Below(9) + 252) & 0xFF;
        out.push_back(static_cast<uint8_t>(value));
        break;
      case 1: {
        const uint32_t fields[4] = {record++, seed ^ (record * 2654435761u), g.Below(1000),
                                    0x3F800000u + g.Below(64)};
        for (uint32_t f : fields)
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(f >> (8 * b)));
        for (int b = 0; b < 16; ++b) out.push_back(static_cast<uint8_t>(b < 4 ? g.Below(256) : 0));
        break;
      }
      case 2:
        out.push_back(static_cast<uint8_t>(g.Next() >> 24));
        break;
      default: {
        const std::string w = kWords[g.Below(14)];
        out.insert(out.end(), w.begin(), w.end());
        out.push_back(g.Below(9) == 0 ? '\n' : ' ');
      }
    }
  }
  out.resize(size);
  return out;
}

struct Block {
  uint32_t seed;
  size_t size;
};

// The asset list of an edition in 1.00: a common part and, every few blocks,
// one that the editions have in different forms.
std::vector<Block> Assets100(int edition) {
  Generator g(1000);
  std::vector<Block> blocks;
  size_t total = 0;
  for (uint32_t i = 0; total < kTargetSize; ++i) {
    Block b{g.Next(), 32768 + g.Below(400000)};
    if (i % 7 == 3) b.seed += 7919u * static_cast<uint32_t>(edition + 1);
    if (i % 7 == 3 && edition == 1) b.size += 4096;
    blocks.push_back(b);
    total += b.size;
  }
  return blocks;
}

// The 1.01 update of an asset list: some assets replaced by new ones, some
// removed, one moved elsewhere, new ones inserted.
std::vector<Block> Assets101(std::vector<Block> blocks, int edition) {
  Generator g(2000 + edition);
  for (size_t i = 5; i < blocks.size(); i += 11) blocks[i].seed ^= 0x5EED0000u;
  blocks.erase(blocks.begin() + 9);
  blocks.erase(blocks.begin() + 20);
  const Block moved = blocks[2];
  blocks.erase(blocks.begin() + 2);
  blocks.insert(blocks.begin() + 30, moved);
  for (size_t at : {size_t{12}, size_t{25}, blocks.size() - 3})
    blocks.insert(blocks.begin() + at, {g.Next(), 60000 + g.Below(200000)});
  return blocks;
}

Bytes Overlay(const std::vector<Block>& blocks, bool patched, size_t limit) {
  Bytes out;
  for (size_t i = 0; i < blocks.size() && out.size() < limit; ++i) {
    Bytes a = Asset(blocks[i].seed, blocks[i].size);
    if (patched && i % 4 == 1) {
      // An asset touched in place: a few changed bytes, a table entry grown.
      Generator g(blocks[i].seed);
      for (int k = 0; k < 40; ++k) a[g.Below(static_cast<uint32_t>(a.size()))] ^= 0x21;
      const Bytes grown = Asset(blocks[i].seed + 1, 512);
      a.insert(a.begin() + static_cast<long>(a.size() / 2), grown.begin(), grown.end());
    }
    out.insert(out.end(), a.begin(), a.end());
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs(
        "usage: qtr_demo_trees GAME_1_00.exe GAME_1_01.exe OUT_DIR\n"
        "Writes OUT_DIR/{censored,uncensored}/{1.00,1.01}: the demo installation trees.\n",
        stderr);
    return 2;
  }
  try {
    const Bytes games[2] = {ReadFile(argv[1]), ReadFile(argv[2])};
    const fs::path out = argv[3];
    const Bytes levels = Asset(400, 600000);
    const Bytes config = Asset(403, 2500);
    const Bytes bundle = Asset(407, 28853);
    for (int edition = 0; edition < 2; ++edition) {
      const std::vector<Block> old_assets = Assets100(edition);
      const std::vector<Block> new_assets = Assets101(old_assets, edition);
      const std::string name = edition == 0 ? "censored" : "uncensored";
      for (int version = 0; version < 2; ++version) {
        const fs::path tree = out / name / (version == 0 ? "1.00" : "1.01");
        fs::remove_all(tree);
        Bytes exe = games[version];
        const size_t room = kTargetSize + 650000 + 15000 * static_cast<size_t>(edition) - exe.size();
        const Bytes overlay = Overlay(version == 0 ? old_assets : new_assets, version == 1, room);
        exe.insert(exe.end(), overlay.begin(), overlay.end());
        WriteFile(tree / "qtr.exe", exe);
        WriteFile(tree / "data" / "levels.pak", levels);
        WriteFile(tree / "data" / "config.ini", config);
        if (version == 1) WriteFile(tree / "bundles" / "patch.bundle", bundle);
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qtr_demo_trees: %s\n", e.what());
    return 1;
  }
  return 0;
}
