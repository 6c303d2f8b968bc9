// Writes two versions of a game-like installation from a seed, for the
// authoring benchmarks: data/assets.pak, an archive of assets of 64 KiB to
// 4 MiB behind a table of contents, and a few small files beside it. The
// assets are of several kinds: incompressible (compressed textures, audio),
// mesh records of floats, text and scripts, images with gradients and
// noise, and sparse tables padded with zeros. The new version changes about
// 3 % of the assets (bytes edited here and there, a region rewritten, a
// piece inserted or cut), inserts about 1 % new ones among them and removes
// some, so that the offsets of everything behind a change shift; its table
// of contents changes with them.
//   bench_make_archive SEED MIB OLD_DIR NEW_DIR
// With --small, COUNT small files (1 to 16 KiB, of the same kinds, 100 to a
// folder) instead, of which the new version changes about 10 %, adds 1 %
// and removes 1 %.
//   bench_make_archive --small SEED COUNT OLD_DIR NEW_DIR
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// splitmix64: fast, and the same numbers on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return Next() % n; }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

 private:
  uint64_t state_;
};

enum Kind { kNoise, kMesh, kText, kImage, kSparse, kKinds };

void Noise(Rng& rng, uint8_t* out, size_t size) {
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const uint64_t v = rng.Next();
    std::memcpy(out + i, &v, 8);
  }
  for (; i < size; ++i) out[i] = static_cast<uint8_t>(rng.Next());
}

// Records of eight floats (position, normal, texture coordinates) that drift
// slowly: compressible, but not trivially.
void Mesh(Rng& rng, uint8_t* out, size_t size) {
  float v[8];
  for (float& f : v) f = static_cast<float>(rng.Unit() * 100.0);
  for (size_t i = 0; i < size; i += sizeof v) {
    for (float& f : v) f += static_cast<float>((rng.Unit() - 0.5) * 0.25);
    std::memcpy(out + i, v, std::min(sizeof v, size - i));
  }
}

void Text(Rng& rng, uint8_t* out, size_t size) {
  static const char* const kWords[] = {"local ", "function ", "end\n",   "if ",     "then ", "return ",
                                       "self.",  "quarry",    "tide",    " = ",     "nil",   "spawn(",
                                       ")\n",    "\t",        "health ", "damage ", "-- ",   "player"};
  size_t i = 0;
  while (i < size) {
    const char* word = kWords[rng.Below(sizeof kWords / sizeof kWords[0])];
    for (; *word != 0 && i < size; ++word) out[i++] = static_cast<uint8_t>(*word);
    if (rng.Below(8) == 0 && i + 4 <= size) {
      const uint32_t n = static_cast<uint32_t>(rng.Below(100000));
      std::memcpy(out + i, &n, 4);
      i += 4;
    }
  }
}

// Rows of RGBA pixels: a gradient with some noise in the low bits.
void Image(Rng& rng, uint8_t* out, size_t size) {
  const size_t width = 256 << rng.Below(3);
  const double dx = rng.Unit() * 0.5, dy = rng.Unit() * 0.5;
  for (size_t i = 0; i < size; ++i) {
    const size_t pixel = i / 4;
    const double base = dx * static_cast<double>(pixel % width) + dy * static_cast<double>(pixel / width);
    out[i] = static_cast<uint8_t>(static_cast<int>(base * (1 + i % 4)) + static_cast<int>(rng.Next() & 3));
  }
}

// Zero padding with records here and there.
void Sparse(Rng& rng, uint8_t* out, size_t size) {
  std::memset(out, 0, size);
  for (size_t i = 0; i + 64 <= size; i += 64 + 64 * rng.Below(16)) Noise(rng, out + i, 8 + rng.Below(56));
}

// Unchanged assets share their bytes between the versions.
struct Asset {
  uint64_t seed;
  Kind kind;
  std::shared_ptr<Bytes> bytes;
};

Bytes Generate(uint64_t seed, Kind kind, size_t size) {
  Rng rng(seed);
  Bytes bytes(size);
  switch (kind) {
    case kNoise:
      Noise(rng, bytes.data(), size);
      break;
    case kMesh:
      Mesh(rng, bytes.data(), size);
      break;
    case kText:
      Text(rng, bytes.data(), size);
      break;
    case kImage:
      Image(rng, bytes.data(), size);
      break;
    default:
      Sparse(rng, bytes.data(), size);
  }
  return bytes;
}

// Sizes from 64 KiB to 4 MiB, evenly spread on a log scale.
size_t AssetSize(Rng& rng) { return static_cast<size_t>(65536.0 * std::pow(64.0, rng.Unit())) & ~size_t{15}; }

Kind AssetKind(Rng& rng) {
  const uint64_t roll = rng.Below(100);
  return roll < 40 ? kNoise : roll < 60 ? kMesh : roll < 75 ? kText : roll < 90 ? kImage : kSparse;
}

// A changed asset: its own kind of bytes rewritten, inserted or cut.
void Change(Rng& rng, Asset& asset) {
  asset.bytes = std::make_shared<Bytes>(*asset.bytes);
  Bytes& b = *asset.bytes;
  switch (rng.Below(4)) {
    case 0:  // bytes edited here and there
      for (int n = static_cast<int>(1 + rng.Below(200)); n > 0; --n) b[rng.Below(b.size())] ^= 1 + rng.Below(255);
      break;
    case 1: {  // a region rewritten
      const size_t length = std::min(b.size(), 4096 + rng.Below(b.size() / 4 + 1));
      const size_t at = rng.Below(b.size() - length + 1);
      const Bytes fresh = Generate(rng.Next(), asset.kind, length);
      std::copy(fresh.begin(), fresh.end(), b.begin() + static_cast<long>(at));
      break;
    }
    case 2: {  // a piece inserted
      const Bytes fresh = Generate(rng.Next(), asset.kind, 1024 + rng.Below(65536));
      b.insert(b.begin() + static_cast<long>(rng.Below(b.size())), fresh.begin(), fresh.end());
      break;
    }
    default: {  // a piece cut
      const size_t length = std::min(b.size() / 2, 1024 + rng.Below(65536));
      const size_t at = rng.Below(b.size() - length);
      b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + length));
    }
  }
}

// The archive: "QPAK", the asset count, then for each asset its id, offset
// and size (little-endian), then the assets, each at a 16-byte boundary.
void WriteArchive(const std::filesystem::path& path, const std::vector<Asset>& assets) {
  std::filesystem::create_directories(path.parent_path());
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  if (out == nullptr) {
    std::perror(path.string().c_str());
    std::exit(1);
  }
  Bytes toc = {'Q', 'P', 'A', 'K'};
  const auto put = [&toc](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) toc.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  put(assets.size(), 4);
  uint64_t offset = (8 + assets.size() * 20 + 15) & ~uint64_t{15};
  for (const Asset& a : assets) {
    put(a.seed & 0xFFFFFFFF, 4);
    put(offset, 8);
    put(a.bytes->size(), 8);
    offset += (a.bytes->size() + 15) & ~uint64_t{15};
  }
  toc.resize((toc.size() + 15) & ~size_t{15});
  bool ok = std::fwrite(toc.data(), 1, toc.size(), out) == toc.size();
  static const uint8_t kPad[16] = {};
  for (const Asset& a : assets) {
    ok = ok && std::fwrite(a.bytes->data(), 1, a.bytes->size(), out) == a.bytes->size();
    const size_t pad = (16 - a.bytes->size() % 16) % 16;
    ok = ok && std::fwrite(kPad, 1, pad, out) == pad;
  }
  if (std::fclose(out) != 0 || !ok) {
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    std::exit(1);
  }
}

void WriteSmall(const std::filesystem::path& path, const Bytes& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    std::exit(1);
  }
}

// The --small trees.
int SmallFiles(uint64_t seed, uint64_t count, const std::filesystem::path& old_dir,
               const std::filesystem::path& new_dir) {
  Rng rng(seed);
  size_t changed = 0, added = 0, removed = 0;
  for (uint64_t i = 0; i < count; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "data/zone%03llu/f%05llu.dat", static_cast<unsigned long long>(i / 100),
                  static_cast<unsigned long long>(i));
    Asset a{rng.Next(), AssetKind(rng), {}};
    a.bytes = std::make_shared<Bytes>(Generate(a.seed, a.kind, 1024 + rng.Below(15 * 1024)));
    const uint64_t roll = rng.Below(100);
    if (roll != 0) WriteSmall(old_dir / name, *a.bytes);
    if (roll == 1) {
      ++removed;
      continue;
    }
    if (roll == 0) ++added;
    if (roll >= 2 && roll < 12) {
      Change(rng, a);
      ++changed;
    }
    WriteSmall(new_dir / name, *a.bytes);
  }
  std::printf("%llu files: %zu changed, %zu added, %zu removed\n", static_cast<unsigned long long>(count), changed,
              added, removed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--small") == 0)
    return SmallFiles(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10), argv[4], argv[5]);
  if (argc != 5) {
    std::fputs(
        "usage: bench_make_archive SEED MIB OLD_DIR NEW_DIR\n"
        "       bench_make_archive --small SEED COUNT OLD_DIR NEW_DIR\n",
        stderr);
    return 2;
  }
  const uint64_t seed = std::strtoull(argv[1], nullptr, 10);
  const uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
  const std::filesystem::path old_dir = argv[3], new_dir = argv[4];
  Rng rng(seed);

  std::vector<Asset> old_assets;
  for (uint64_t total = 0; total < target;) {
    Asset a{rng.Next(), AssetKind(rng), {}};
    a.bytes =
        std::make_shared<Bytes>(Generate(a.seed, a.kind, std::min<uint64_t>(AssetSize(rng), target - total + 16)));
    total += a.bytes->size();
    old_assets.push_back(std::move(a));
  }
  std::vector<Asset> new_assets;
  for (const Asset& a : old_assets) {
    const uint64_t roll = rng.Below(1000);
    if (roll < 5) continue;  // removed
    if (roll < 15) {         // a new asset before this one
      Asset added{rng.Next(), AssetKind(rng), {}};
      added.bytes = std::make_shared<Bytes>(Generate(added.seed, added.kind, AssetSize(rng)));
      new_assets.push_back(std::move(added));
    }
    new_assets.push_back(a);
    if (roll >= 15 && roll < 45) Change(rng, new_assets.back());
  }
  WriteArchive(old_dir / "data" / "assets.pak", old_assets);
  WriteArchive(new_dir / "data" / "assets.pak", new_assets);

  // Small files beside it: one unchanged, one changed, one added.
  Rng small(seed ^ 0x5A5A);
  const Bytes config = Generate(small.Next(), kText, 3000);
  Bytes config_new = config;
  config_new[100] = 'X';
  WriteSmall(old_dir / "game.cfg", config);
  WriteSmall(new_dir / "game.cfg", config_new);
  const Bytes readme = Generate(small.Next(), kText, 5000);
  WriteSmall(old_dir / "readme.txt", readme);
  WriteSmall(new_dir / "readme.txt", readme);
  WriteSmall(new_dir / "data" / "patch_notes.txt", Generate(small.Next(), kText, 2000));
  std::printf("%zu assets in the old archive, %zu in the new one\n", old_assets.size(), new_assets.size());
  return 0;
}
