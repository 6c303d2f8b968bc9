#pragma once
// Installation trees and patches shared by the authoring tool's tests.
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/model/patch_model.h"
#include "tools/payload/zlib_codec.h"
#include "tools/plan/authoring.h"

inline Bytes Random(uint32_t seed, size_t size) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& x : b) x = static_cast<uint8_t>(rng() % 64);  // compressible, like game data
  return b;
}

inline Bytes Edited(Bytes b, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int i = 0; i < 20; ++i) b[rng() % b.size()] ^= 0xA7;
  const Bytes extra = Random(seed + 1, 3000);
  b.insert(b.begin() + static_cast<long>(b.size() / 3), extra.begin(), extra.end());
  return b;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Two editions of an installation that differ in their executable; both get
// the same new bundle, lose the same old file and get the same new readme.
inline std::vector<Variant> TwoEditions() {
  const Bytes data = Random(1, 50000);
  const Bytes readme_old = Text(std::string(4000, 'r') + "version 1.00");
  const Bytes readme_new = Text(std::string(4000, 'r') + "version 1.01");
  std::vector<Variant> variants(2);
  for (int i = 0; i < 2; ++i) {
    Variant& v = variants[i];
    v.name = i == 0 ? "censored" : "uncensored";
    const Bytes exe_old = Random(10 + i, 200000);
    v.old_tree.files = {{"/qtr.exe", exe_old},
                  {"/data/assets.pak", data},
                  {"/data/old.txt", Text("gone")},
                  {"/readme.txt", readme_old}};
    v.new_tree.files = {{"/qtr.exe", Edited(exe_old, 20 + i)},
                  {"/data/assets.pak", data},
                  {"/bundles/patch.bundle", Random(3, 28853)},
                  {"/readme.txt", readme_new}};
  }
  return variants;
}

inline BuildOptions KeyedBy(const std::string& key_file) {
  BuildOptions options;
  options.key_files = {key_file};
  return options;
}

inline const Bytes& Resource(const BuiltPatch& patch, int id) {
  for (const auto& r : patch.resources)
    if (r.first == id) return r.second;
  throw std::runtime_error("no resource " + std::to_string(id));
}

// A patch written by hand (as an older tool might have written it): each
// group's files get their ids, sizes, checksums and payloads, whole and
// deflated, from `contents`.
inline PatchResources HandMadePatch(AuthoredPatch& documents, const std::map<std::string, Bytes>& contents) {
  PatchResources resources;
  int next = 5002;
  for (auto& g : documents.groups) {
    g.pack_id = next++;
    for (auto& f : g.files) {
      if (f.kind == Deleted) continue;
      const Bytes& bytes = contents.at(f.subpath);
      f.id = next++;
      f.size = bytes.size();
      f.crc = TreeFile(bytes).Crc();
      f.comp = true;
      resources[f.id] = Compress(bytes);
      f.comp_size = resources[f.id].size();
    }
    const std::string pack = WritePackDocument(g);
    resources[g.pack_id] = Bytes(pack.begin(), pack.end());
  }
  const std::string main = WriteMainManifest(documents);
  resources[5001] = Bytes(main.begin(), main.end());
  return resources;
}
