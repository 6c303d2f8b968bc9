#pragma once
// Making a patch: from the old and new installation trees of each variant to
// the documents and payloads the patcher carries, checked by applying them,
// and the patcher executable that carries them.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/diff_writer.h"
#include "tools/patch_documents.h"

// An installation tree: relative path ("/" separated, with a leading "/")
// to the file's bytes.
using FileTree = std::map<std::string, Bytes>;

// One variant of the installation (e.g. one edition of the executable): its
// old and new trees. The name labels its group in the main manifest.
struct Variant {
  std::string name;
  FileTree old_tree;
  FileTree new_tree;
};

constexpr int kFirstResourceId = 5001;
constexpr int kLastResourceId = 65535;
constexpr uint64_t kFileSizeLimit = uint64_t{1} << 31;

// The game's own registry locations, used when none are given.
PatchManifest DefaultHeader(const std::string& from, const std::string& to);

// Reads every regular file below `dir`. Raises AuthoringError for a missing
// or unreadable tree, a file of 2 GiB or more, a path the manifests cannot
// carry (see CheckCarriablePath) or two paths that differ only in case.
FileTree ReadTree(const std::string& dir);

// Raises AuthoringError unless `path` can travel in a pack document and be
// created by the patcher: UTF-8 without control characters, no characters
// Windows forbids in names, no name ending in a dot or space, no reserved
// device name, and none of the patcher's temporary file names ("new.dat",
// "undiff.dat", "tmp_uncomp.dat"), which it creates beside every target.
void CheckCarriablePath(const std::string& path);

struct BuiltPatch {
  AuthoredPatch documents;
  std::vector<std::pair<uint16_t, Bytes>> resources;  // ascending ids from 5001
};

// Works out the groups, payloads and documents. Files the same in every
// variant go into one group for everyone; the rest into one group per
// variant, filtered by `key_file` (or, when that is empty, the first path
// whose checksums tell every variant apart, old and new). Raises
// AuthoringError for identical versions, variants that no key file tells
// apart, paths CheckCarriablePath refuses or that are a file in one version
// and a directory in the other, and more resources than ids 5001..65535 hold.
BuiltPatch BuildPatch(const std::vector<Variant>& variants, const PatchManifest& header,
                      const std::string& key_file = std::string());

// Applies the patch the way the patcher reads it: the manifest and pack
// documents through the patcher's own readers and group selection, every
// payload inflated and every diff decoded by the patcher's decoder, against
// each variant's old tree, and requires the result to equal that variant's
// new tree byte for byte, with sizes and checksums as the documents say.
// Raises AuthoringError naming the first file that would not be rebuilt.
void SelfCheck(const BuiltPatch& patch, const std::vector<Variant>& variants);

// The stub patcher with the patch's resources added.
Bytes MakePatchExecutable(const Bytes& stub, const BuiltPatch& patch);

// Reads a whole file; raises AuthoringError when it cannot.
Bytes ReadWholeFile(const std::string& path);

// Writes `bytes` to a temporary name beside `path` and renames it into
// place, so that a failure leaves no half-written file at `path`.
void WriteFileAtomically(const std::string& path, const Bytes& bytes);
