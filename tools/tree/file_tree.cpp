#include "tools/tree/file_tree.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>

#include "tools/common/authoring_error.h"
#include "tools/tree/paths.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBlock = size_t{1} << 20;

std::string Display(const fs::path& path) { return path.u8string(); }

// Reads a file block by block; raises AuthoringError on any failure.
class BlockReader {
 public:
  BlockReader(const fs::path& path, uint64_t size) : path_(path), left_(size), in_(path, std::ios::binary) {
    if (!in_) throw AuthoringError("cannot open " + Display(path));
  }
  // The next block (empty at the end).
  const Bytes& Next() {
    block_.resize(static_cast<size_t>(std::min<uint64_t>(left_, kBlock)));
    if (!block_.empty() && !in_.read(reinterpret_cast<char*>(block_.data()), block_.size()))
      throw AuthoringError("cannot read " + Display(path_) + " (did it change while the tool ran?)");
    left_ -= block_.size();
    return block_;
  }

 private:
  fs::path path_;
  uint64_t left_;
  std::ifstream in_;
  Bytes block_;
};

}  // namespace

struct TreeFile::State {
  fs::path path;                       // empty for a file in memory
  std::shared_ptr<const Bytes> bytes;  // set for a file in memory
  uint64_t size = 0;
  std::optional<uint32_t> crc;
  bool digest_only = false;
  std::weak_ptr<const State> differs_from;  // a file these bytes were found to differ from
};

TreeFile::TreeFile() : TreeFile(Bytes()) {}

TreeFile::TreeFile(Bytes bytes) : state_(std::make_shared<State>()) {
  state_->size = bytes.size();
  state_->bytes = std::make_shared<const Bytes>(std::move(bytes));
}

TreeFile TreeFile::OnDisk(fs::path path, uint64_t size) {
  TreeFile file;
  file.state_ = std::make_shared<State>();
  file.state_->path = std::move(path);
  file.state_->size = size;
  return file;
}

TreeFile TreeFile::Digest(uint64_t size, uint32_t crc) {
  TreeFile file;
  file.state_ = std::make_shared<State>();
  file.state_->size = size;
  file.state_->crc = crc;
  file.state_->digest_only = true;
  return file;
}

TreeFile TreeFile::DigestDiffering(uint64_t size, uint32_t crc, const TreeFile& other) {
  TreeFile file = Digest(size, crc);
  file.state_->differs_from = other.state_;
  return file;
}

uint64_t TreeFile::size() const { return state_->size; }

void TreeFile::NoteCrc(uint32_t crc) const {
  if (!state_->crc) state_->crc = crc;
}

std::string TreeFile::Origin() const {
  if (state_->digest_only) return "(not kept)";
  return state_->bytes ? "(in memory)" : Display(state_->path);
}

std::shared_ptr<const FileData> TreeFile::Load() const {
  if (state_->bytes) return FileData::Hold(state_->bytes);
  if (state_->digest_only) throw AuthoringError("the bytes of a rebuilt file were not kept");
  return FileData::Open(state_->path, state_->size, Origin());
}

uint32_t TreeFile::Crc() const {
  if (state_->crc) return *state_->crc;
  uLong crc = crc32(0, Z_NULL, 0);
  auto add = [&crc](const uint8_t* data, size_t size) {
    for (size_t done = 0; done < size;) {
      const size_t n = std::min<size_t>(size - done, 1u << 30);
      crc = crc32(crc, data + done, static_cast<uInt>(n));
      done += n;
    }
  };
  if (state_->bytes) {
    add(state_->bytes->data(), state_->bytes->size());
  } else {
    BlockReader reader(state_->path, state_->size);
    for (const Bytes* block = &reader.Next(); !block->empty(); block = &reader.Next())
      add(block->data(), block->size());
  }
  state_->crc = static_cast<uint32_t>(crc);
  return *state_->crc;
}

bool TreeFile::SameBytes(const TreeFile& other) const {
  if (state_ == other.state_) return true;
  if (state_->differs_from.lock() == other.state_ || other.state_->differs_from.lock() == state_) return false;
  if (size() != other.size()) return false;
  if (state_->crc && other.state_->crc && *state_->crc != *other.state_->crc) return false;
  if (state_->digest_only || other.state_->digest_only) return Crc() == other.Crc();
  if (state_->bytes && other.state_->bytes) return *state_->bytes == *other.state_->bytes;
  // One file on disk under two names (trees that share files by hard links).
  std::error_code ec;
  if (!state_->bytes && !other.state_->bytes && fs::equivalent(state_->path, other.state_->path, ec)) return true;
  // Block by block: a file in memory is compared against the other's blocks.
  const TreeFile& disk = state_->bytes ? other : *this;
  const TreeFile& second = state_->bytes ? *this : other;
  BlockReader a(disk.state_->path, disk.size());
  std::optional<BlockReader> b;
  if (!second.state_->bytes) b.emplace(second.state_->path, second.size());
  size_t at = 0;
  for (const Bytes* block = &a.Next(); !block->empty(); block = &a.Next()) {
    const uint8_t* theirs;
    if (b) {
      theirs = b->Next().data();
    } else {
      theirs = second.state_->bytes->data() + at;
    }
    if (!std::equal(block->begin(), block->end(), theirs)) return false;
    at += block->size();
  }
  return true;
}

std::set<std::string> FoldersOf(const FileTree& tree) {
  std::set<std::string> folders = tree.folders;
  for (const auto& entry : tree.files)
    for (size_t slash = entry.first.find('/', 1); slash != std::string::npos;
         slash = entry.first.find('/', slash + 1))
      folders.insert(entry.first.substr(0, slash));
  return folders;
}

namespace {

void CheckTreeRoot(const fs::path& root, const std::string& dir) {
  std::error_code ec;
  const fs::file_status root_status = fs::status(root, ec);
  if (!fs::exists(root_status))
    throw AuthoringError("installation tree not found: " + dir);
  if (!fs::is_directory(root_status))
    throw AuthoringError("not a folder: " + dir + " (an installation tree is the folder the game is installed in)");
}

// What a walked entry is, links followed where `follow_links` allows:
// raises AuthoringError for a link not to be followed, a broken one, and a
// link to a folder that holds it.
fs::file_status StatusOf(const fs::directory_entry& entry, const fs::path& root, bool follow_links) {
  std::error_code ec;
  const fs::path& p = entry.path();
  const fs::file_status own = entry.symlink_status(ec);
  if (ec) throw AuthoringError("cannot read " + Display(p) + ": " + ec.message());
  if (fs::is_symlink(own) && !follow_links)
    throw AuthoringError("symbolic link in the tree: " + Display(p) +
                         " (replace it by what it points to, or give --follow-links)");
  const fs::file_status status = entry.status(ec);
  if (ec) throw AuthoringError("cannot read " + Display(p) + " (a broken link?): " + ec.message());
  if (fs::is_symlink(own) && fs::is_directory(status)) {
    // A followed link to one of the folders the walk is in would be read
    // without end, until the paths grew too long.
    const fs::path target = fs::canonical(p, ec);
    for (fs::path folder = p.parent_path(); !ec; folder = folder.parent_path()) {
      if (fs::equivalent(folder, target, ec))
        throw AuthoringError("symbolic link loop: " + Display(p) + " points to " + Display(target) +
                             ", a folder that holds it");
      if (folder == root || !folder.has_relative_path()) break;
    }
  }
  return status;
}

}  // namespace

FileTree ReadTree(const std::string& dir, const ReadTreeOptions& options,
                  const std::function<void(size_t files)>& progress) {
  std::error_code ec;
  const fs::path root = fs::u8path(dir);
  CheckTreeRoot(root, dir);
  FileTree tree;
  std::map<std::string, std::string> folded;  // FoldCase key -> path as found
  auto claim = [&](const std::string& relative) {
    const auto clash = folded.emplace(FoldCase(relative), relative);
    if (!clash.second)
      throw AuthoringError("paths differ only in case, one file on Windows: " + clash.first->second + " and " +
                           relative + " in " + dir);
  };
  const auto link_options =
      options.follow_links ? fs::directory_options::follow_directory_symlink : fs::directory_options::none;
  fs::recursive_directory_iterator it(root, link_options, ec), end;
  if (ec) throw AuthoringError("cannot read installation tree " + dir + ": " + ec.message());
  // The entry read last: a folder that cannot be read fails the step after it.
  fs::path last = root;
  for (; it != end; it.increment(ec)) {
    if (ec) throw AuthoringError("cannot read installation tree " + dir + " after " + Display(last) + ": " + ec.message());
    const fs::path& p = it->path();
    last = p;
    const std::string relative = "/" + p.lexically_relative(root).generic_u8string();
    const fs::file_status status = StatusOf(*it, root, options.follow_links);
    if (options.installation && IsPatcherTemporaryName(p.filename().u8string()))
      throw AuthoringError("a leftover of an interrupted patch run in the installation: " + Display(p) +
                           "; verify patches installations without the patcher's temporary files (a rerun "
                           "removes those beside the files it writes): remove it and verify again");
    CheckCarriablePath(relative);
    claim(relative);
    if (fs::is_directory(status)) {
      tree.folders.insert(relative);
      continue;
    }
    if (!fs::is_regular_file(status))
      throw AuthoringError("not a regular file (a device, pipe or socket): " + Display(p));
    const uintmax_t size = fs::file_size(p, ec);
    if (ec) throw AuthoringError("cannot read " + Display(p) + ": " + ec.message());
    tree.files.emplace(relative, TreeFile::OnDisk(p, size));
    if (progress && tree.files.size() % 256 == 0) progress(tree.files.size());
  }
  if (ec) throw AuthoringError("cannot read installation tree " + dir + " after " + Display(last) + ": " + ec.message());
  return tree;
}

std::string SizeText(uint64_t n) {
  char text[64];
  if (n >= (uint64_t{10} << 30)) {
    std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(n) / (1 << 30));
  } else if (n >= (uint64_t{10} << 20)) {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(n) / (1 << 20));
  } else if (n >= (uint64_t{10} << 10)) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(n) / (1 << 10));
  } else {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(n));
  }
  return text;
}

std::string SpaceText(int64_t bytes) {
  const std::string exact = std::to_string(bytes) + " bytes";
  // SizeText counts bytes itself below 10 KiB.
  return bytes < (10 << 10) ? exact : exact + " (" + SizeText(static_cast<uint64_t>(bytes)) + ")";
}

Bytes ReadWholeFile(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::u8path(path);
  if (!fs::is_regular_file(p, ec)) {
    if (fs::exists(p, ec)) throw AuthoringError("not a regular file: " + path);
    throw AuthoringError("not found: " + path);
  }
  const std::shared_ptr<const FileData> data = TreeFile::OnDisk(p, fs::file_size(p, ec)).Load();
  return Bytes(data->data(), data->data() + data->size());
}

void WriteFileAtomically(const std::string& path, const Bytes& bytes) {
  const fs::path target = fs::u8path(path);
  const fs::path temp = fs::u8path(path + ".partial");
  std::error_code ec;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out)
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temp, ec);
      throw AuthoringError("cannot write " + path);
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw AuthoringError("cannot write " + path);
  }
}
