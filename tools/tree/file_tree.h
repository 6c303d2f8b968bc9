#pragma once
// Installation trees as the authoring tool reads them: every file's relative
// path and size, with its bytes left on disk until they are needed, so that
// trees far larger than memory (games with archives of many GiB that a patch
// does not touch) can be compared.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "tools/common/byte_span.h"
#include "tools/tree/mapped_file.h"

// One file of a tree: on disk, or in memory (tests, rebuilt files). Copies
// share the bytes and the checksum once it is taken.
class TreeFile {
 public:
  TreeFile();
  TreeFile(Bytes bytes);  // NOLINT: a tree of literal files reads best as {path, bytes}
  static TreeFile OnDisk(std::filesystem::path path, uint64_t size);
  // A file known only by its size and checksum, whose bytes were not kept:
  // Load raises, and SameBytes compares size and checksum.
  static TreeFile Digest(uint64_t size, uint32_t crc);
  // The same, for bytes found to differ from `other`'s while they were
  // compared: SameBytes(other) is false whatever the checksums say.
  static TreeFile DigestDiffering(uint64_t size, uint32_t crc, const TreeFile& other);

  uint64_t size() const;
  // The whole file, mapped where the system allows it (see FileData);
  // raises AuthoringError when it cannot be read or no longer has the size
  // the tree was read with.
  std::shared_ptr<const FileData> Load() const;
  // CRC-32 of the whole file, read in blocks once and then kept.
  uint32_t Crc() const;
  // Records the CRC-32 of the file's bytes, taken while they were read
  // elsewhere, so that Crc() need not read them again.
  void NoteCrc(uint32_t crc) const;
  // Byte for byte the same content, read in blocks (sizes first).
  bool SameBytes(const TreeFile& other) const;
  bool operator==(const TreeFile& other) const { return SameBytes(other); }
  bool operator!=(const TreeFile& other) const { return !SameBytes(other); }
  // Where the bytes are, for messages: the disk path, or "(in memory)".
  std::string Origin() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// A tree: files by their relative path ("/" separated, leading "/"), and
// every folder below the root ("/data", "/data/maps"), empty ones included.
struct FileTree {
  std::map<std::string, TreeFile> files;
  std::set<std::string> folders;
};

// The folders of a tree: those it lists and every parent of its files.
std::set<std::string> FoldersOf(const FileTree& tree);

struct ReadTreeOptions {
  bool follow_links = false;  // read what symbolic links point to instead of refusing them
  // The tree is an installation to patch in memory (qtr_author verify): a
  // file named as one of the patcher's temporary files is refused as the
  // leftover of an interrupted run, which the model does not hold.
  bool installation = false;
};

// Lists every file and folder below `dir`. Raises AuthoringError for a
// missing tree or one that is a file, an unreadable folder, a symbolic link
// (unless followed), a device, pipe or socket, a path CheckCarriablePath
// refuses, and two paths that name one file on Windows (FoldCase).
// `progress` (may be empty) hears the number of files listed so far, now and
// then.
FileTree ReadTree(const std::string& dir, const ReadTreeOptions& options = ReadTreeOptions(),
                  const std::function<void(size_t files)>& progress = nullptr);

// A byte count as people read it: "812 bytes", "40.2 KiB", "13.6 MiB", "2.1 GiB".
std::string SizeText(uint64_t bytes);

// A space figure the patcher compares byte for byte (required_space), exact
// and as people read it: "17794997 bytes (17.0 MiB)", "812 bytes".
std::string SpaceText(int64_t bytes);

// Reads a whole file; raises AuthoringError when it cannot.
Bytes ReadWholeFile(const std::string& path);

// Writes `bytes` to a temporary name beside `path` and renames it into
// place, so that a failure leaves no half-written file at `path`.
void WriteFileAtomically(const std::string& path, const Bytes& bytes);
