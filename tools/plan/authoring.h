#pragma once
// Making a patch: from the old and new installation trees of each variant to
// the documents and payloads the patcher carries. Paths of the old and new
// trees are matched as Windows matches them (without case); files the same
// in both are left alone whatever their size.
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/payload/patch_documents.h"
#include "tools/tree/file_tree.h"

// One variant of the installation (e.g. one edition of the executable): its
// old and new trees. The name labels its group in the main manifest.
struct Variant {
  std::string name;
  FileTree old_tree;
  FileTree new_tree;
};

constexpr int kFirstResourceId = 5001;
constexpr int kLastResourceId = 65535;
// Files the patcher reads or writes through its 32-bit readers (added and
// updated files, their old versions, key files) must be smaller than this.
constexpr uint64_t kFileSizeLimit = uint64_t{1} << 31;
// A patch executable above this may not find room in a 32-bit process's
// address space.
constexpr uint64_t kLoadableImage = uint64_t{1} << 30;

// "the largest payloads: /a.pak 600.0 MiB (diff), ...": the `most` largest of
// (path, payload bytes, diff?), for messages about a patch too large.
struct PayloadSize {
  std::string path;
  uint64_t bytes = 0;
  bool diff = false;
};
std::string LargestPayloads(std::vector<PayloadSize> payloads, size_t most = 5);

// The game's own registry locations, used when none are given.
PatchManifest DefaultHeader(const std::string& from, const std::string& to);

// Raises AuthoringError unless both texts read as versions the way the
// patcher reads them (two decimal numbers joined by a full stop, the major
// below 32768 and the minor below 65536), `from` is a version an
// installation can have (not 0.0) and `to` is above `from` by the patcher's
// comparison, under which 1.1 and 1.01 are the same version.
void CheckVersions(const std::string& from, const std::string& to);

// What happens to one path of a variant's installation.
struct Change {
  FilePatchKind kind = Added;
  std::string path;                    // as the new tree spells it (the old one for Deleted)
  const TreeFile* old_file = nullptr;  // Updated, Deleted; and an update written whole
  const TreeFile* new_file = nullptr;  // Added, Updated
  // An update written as an added entry, which the patcher writes anew
  // whatever it finds: the new file is empty (its checksum could never be
  // read to recognise it as patched), or the old one is too large for the
  // patcher's readers, or both have the same size and checksum.
  std::string written_whole;
};

// A variant's changes and what the patch leaves alone.
struct VariantPlan {
  std::map<std::string, Change> changes;  // by FoldCase key
  uint64_t unchanged_files = 0;
  uint64_t unchanged_bytes = 0;
  // Folders of the old version that the new one lacks: the patcher never
  // removes a folder, so they stay (emptied) in the installation.
  std::vector<std::string> folders_left;
  // Empty folders of the new version that the patch cannot create (the
  // patcher makes folders only for the files it writes).
  std::vector<std::string> folders_not_made;
  // Unchanged files whose names change only in case, old and new spelling:
  // the patch leaves them alone, so they keep their old spelling (Windows
  // finds them by either).
  std::vector<std::pair<std::string, std::string>> names_kept;
};

// Progress of long work, for a terminal: `done` of `total` units of `stage`
// on the file `path`; file `index` (from 1) of `count`.
struct BuildProgress {
  std::string stage;
  std::string path;
  size_t index = 0, count = 0;
  uint64_t done = 0, total = 0;
};

struct BuildOptions {
  // The files whose checksums may tell the variants apart, relative to the
  // installation; empty: any file of the old trees.
  std::vector<std::string> key_files;
  bool fast = false;  // zlib -9 instead of the strongest deflate setting
  // Threads (0: every core). Files below 4 MiB are made several at once,
  // one thread each; larger ones one at a time, each on every thread. The
  // patch is the same for any number.
  unsigned threads = 0;
  // What the payloads may come to; once those made exceed it the patch is
  // refused at once, before the rest are made.
  uint64_t payload_limit = kLoadableImage;
  // Called from the calling thread only.
  std::function<void(const BuildProgress&)> progress;
};

// A key file the groups name, and what taking its checksum costs each
// variant's patcher: its size in the old tree, 0 where it has none.
struct KeyRead {
  std::string key;              // as the groups name it, with a leading "/"
  std::vector<uint64_t> bytes;  // by variant
};

struct BuiltPatch {
  AuthoredPatch documents;
  std::vector<std::pair<uint16_t, Bytes>> resources;  // ascending ids from 5001
  std::vector<VariantPlan> plans;                     // one per variant, in order
  std::vector<std::string> warnings;                  // what a studio should look at
  // By group of `documents`: the variants whose installations select it.
  std::vector<std::vector<size_t>> selected_by;
  std::vector<KeyRead> key_reads;  // the key files named, in order of first use

  // The groups a variant's installation selects, and the bytes its patcher
  // reads to select them.
  std::vector<size_t> GroupsOf(size_t variant) const;
  uint64_t KeyBytesReadBy(size_t variant) const;
};

// Works out the groups, payloads and documents. Changes the same in every
// variant go into one group for everyone; the rest into groups keyed by
// files that tell apart the variants that need them (tools/plan/groups.h).
// Raises AuthoringError for versions CheckVersions refuses, identical
// versions, changes that no choice of key files can give exactly the
// variants that need them, paths CheckCarriablePath refuses or that are a file in one
// version and a folder in the other, files too large for the patcher among
// those it must read or write, and more resources than ids 5001..65535 hold.
BuiltPatch BuildPatch(const std::vector<Variant>& variants, const PatchManifest& header,
                      const BuildOptions& options = BuildOptions());
