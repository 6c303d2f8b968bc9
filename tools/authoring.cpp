#include "tools/authoring.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "diff/diff_decoder.h"
#include "diff/memory_io.h"
#include "engine/internal_error.h"
#include "manifest/group_selection.h"
#include "tools/authoring_error.h"
#include "tools/pe_resources.h"
#include "tools/zlib_codec.h"

namespace fs = std::filesystem;

namespace {

uint32_t Crc32(const Bytes& data) {
  uLong crc = crc32(0, Z_NULL, 0);
  size_t done = 0;
  while (done < data.size()) {
    const size_t n = std::min<size_t>(data.size() - done, 1u << 30);
    crc = crc32(crc, data.data() + done, static_cast<uInt>(n));
    done += n;
  }
  return static_cast<uint32_t>(crc);
}

std::string Lower(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const uint8_t b = static_cast<uint8_t>(s[i]);
    const int extra = b < 0x80             ? 0
                      : (b & 0xE0) == 0xC0 ? 1
                      : (b & 0xF0) == 0xE0 ? 2
                      : (b & 0xF8) == 0xF0 ? 3
                                           : -1;
    if (extra < 0 || (extra == 1 && b < 0xC2) || i + static_cast<size_t>(extra) >= s.size() + (extra == 0))
      return false;
    uint32_t code = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const uint8_t c = static_cast<uint8_t>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      code = (code << 6) | (c & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    i += 1 + static_cast<size_t>(extra);
  }
  return true;
}

bool HasControlCharacter(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x20 || c == 0x7F; });
}

// UTF-16 back to UTF-8, for paths the patcher's readers produced.
std::string WideToUtf8(const WideText& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size())
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void CheckText(const std::string& what, const std::string& text) {
  if (HasControlCharacter(text) || !ValidUtf8(text))
    throw AuthoringError(what + " must be UTF-8 text without control characters");
}

bool IsVersionText(const std::string& text) {
  const size_t dot = text.find('.');
  auto digits = [](const std::string& s) {
    return !s.empty() && s.size() <= 4 &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return dot != std::string::npos && digits(text.substr(0, dot)) && digits(text.substr(dot + 1));
}

}  // namespace

PatchManifest DefaultHeader(const std::string& from, const std::string& to) {
  PatchManifest header;
  header.from = from;
  header.to = to;
  header.reg_path = {"SOFTWARE\\Morrow\\QTR", "InstallDir"};
  header.reg_version = {"SOFTWARE\\Morrow\\QTR", "Version"};
  header.reg_version2 = {
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6D3A1F52-8B0C-4E57-9A21-0C7A5E1D0101}",
      "DisplayVersion"};
  header.reg_language = {"SOFTWARE\\Morrow\\QTR", "Lang"};
  return header;
}

void CheckCarriablePath(const std::string& path) {
  if (path.size() < 2 || path[0] != '/') throw AuthoringError("bad relative path: " + path);
  if (!ValidUtf8(path)) throw AuthoringError("path is not UTF-8, which pack documents need: " + path);
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    if (name.empty()) throw AuthoringError("empty path component: " + path);
    for (const char c : name) {
      if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F ||
          std::string("\\:*?\"<>|").find(c) != std::string::npos)
        throw AuthoringError("path holds a character Windows file names cannot: " + path);
    }
    if (name.back() == '.' || name.back() == ' ')
      throw AuthoringError("file name ends in a dot or space, which Windows drops: " + path);
    std::string device = Lower(name.substr(0, name.find('.')));
    while (!device.empty() && device.back() == ' ') device.pop_back();
    static const std::set<std::string> kDevices = {
        "con",  "prn",  "aux",  "nul",  "com1", "com2", "com3", "com4", "com5", "com6", "com7",
        "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
    if (kDevices.count(device)) throw AuthoringError("file name is a Windows device name: " + path);
    const std::string lower = Lower(name);
    if (lower == "new.dat" || lower == "undiff.dat" || lower == "tmp_uncomp.dat")
      throw AuthoringError("file name is one the patcher uses for its temporary files: " + path);
    start = end + 1;
  }
}

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw AuthoringError("cannot open " + path);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) throw AuthoringError("cannot read " + path);
  if (static_cast<uint64_t>(size) >= kFileSizeLimit)
    throw AuthoringError("file of 2 GiB or more, beyond what the patcher can carry: " + path);
  in.seekg(0);
  Bytes bytes(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
    throw AuthoringError("cannot read " + path);
  return bytes;
}

FileTree ReadTree(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw AuthoringError("installation tree not found: " + dir);
  FileTree tree;
  std::map<std::string, std::string> folded;
  fs::recursive_directory_iterator it(dir, ec), end;
  if (ec) throw AuthoringError("cannot read installation tree " + dir + ": " + ec.message());
  for (; it != end; it.increment(ec)) {
    if (ec) throw AuthoringError("cannot read installation tree " + dir + ": " + ec.message());
    const fs::path& p = it->path();
    if (it->is_directory(ec)) continue;
    if (!it->is_regular_file(ec)) throw AuthoringError("not a regular file: " + p.string());
    const std::string relative = "/" + p.lexically_relative(dir).generic_string();
    CheckCarriablePath(relative);
    const auto clash = folded.emplace(Lower(relative), relative);
    if (!clash.second)
      throw AuthoringError("paths differ only in case, one file on Windows: " + clash.first->second +
                           " and " + relative);
    const uintmax_t size = it->file_size(ec);
    if (!ec && size >= kFileSizeLimit)
      throw AuthoringError("file of 2 GiB or more, beyond what the patcher can carry: " + p.string());
    tree[relative] = ReadWholeFile(p.string());
  }
  if (ec) throw AuthoringError("cannot read installation tree " + dir + ": " + ec.message());
  return tree;
}

namespace {

// What a variant's patch does to one path.
struct Change {
  FilePatchKind kind;
  const Bytes* old_file;  // Updated, Deleted
  const Bytes* new_file;  // Added, Updated
};

std::map<std::string, Change> Changes(const Variant& v) {
  std::map<std::string, Change> changes;
  for (const auto& [path, bytes] : v.new_tree) {
    const auto old = v.old_tree.find(path);
    if (old == v.old_tree.end()) {
      changes[path] = {Added, nullptr, &bytes};
    } else if (old->second != bytes) {
      changes[path] = {Updated, &old->second, &bytes};
    }
  }
  for (const auto& [path, bytes] : v.old_tree)
    if (!v.new_tree.count(path)) changes[path] = {Deleted, &bytes, nullptr};
  return changes;
}

// The patcher adds files before it deletes any, so a path that is a file in
// one version and a directory in the other cannot be patched.
void CheckFileDirectoryClash(const Variant& v) {
  auto directories = [](const FileTree& tree) {
    std::set<std::string> dirs;
    for (const auto& entry : tree)
      for (size_t slash = entry.first.find('/', 1); slash != std::string::npos;
           slash = entry.first.find('/', slash + 1))
        dirs.insert(entry.first.substr(0, slash));
    return dirs;
  };
  const std::set<std::string> old_dirs = directories(v.old_tree), new_dirs = directories(v.new_tree);
  for (const auto& entry : v.new_tree)
    if (old_dirs.count(entry.first))
      throw AuthoringError("a directory of the old version is a file in the new one: " + entry.first);
  for (const auto& entry : v.old_tree)
    if (new_dirs.count(entry.first))
      throw AuthoringError("a file of the old version is a directory in the new one: " + entry.first);
}

bool SameChange(const Change& a, const Change& b) {
  if (a.kind != b.kind) return false;
  if (a.kind != Added && a.kind != Deleted && *a.old_file != *b.old_file) return false;
  return a.kind == Deleted || *a.new_file == *b.new_file;
}

// Fills the entry's sizes and checksums and returns the smallest payload that
// rebuilds the file: the whole file or a diff, each raw or deflated. A
// resource may not be empty (the patcher refuses those), so an empty file or
// diff always travels deflated.
Bytes MakePayload(AuthoredFile& f, const Bytes* old_file, const Bytes& new_file) {
  f.crc = Crc32(new_file);
  f.size = new_file.size();
  struct Candidate {
    Bytes bytes;
    bool comp, diff;
    uint64_t diff_size;
  };
  std::vector<Candidate> candidates;
  if (!new_file.empty()) candidates.push_back({new_file, false, false, 0});
  candidates.push_back({Compress(new_file), true, false, 0});
  if (old_file != nullptr) {
    f.crc_org = Crc32(*old_file);
    f.size_org = old_file->size();
    Bytes diff = WriteDiff(*old_file, new_file);
    const uint64_t diff_size = diff.size();
    candidates.push_back({Compress(diff), true, true, diff_size});
    if (!diff.empty()) candidates.push_back({std::move(diff), false, true, diff_size});
  }
  size_t best = 0;
  for (size_t i = 1; i < candidates.size(); ++i)
    if (candidates[i].bytes.size() < candidates[best].bytes.size()) best = i;
  Candidate& c = candidates[best];
  f.comp = c.comp;
  f.comp_size = c.comp ? c.bytes.size() : 0;
  f.diff = c.diff;
  f.diff_size = c.diff_size;
  if (c.bytes.size() >= kFileSizeLimit) throw AuthoringError("payload of 2 GiB or more for " + f.subpath);
  return std::move(c.bytes);
}

bool Distinguishes(const std::vector<Variant>& variants, const std::string& path) {
  std::vector<std::pair<uint32_t, uint32_t>> sums;
  for (const auto& v : variants) {
    const auto o = v.old_tree.find(path);
    const auto n = v.new_tree.find(path);
    if (o == v.old_tree.end() || n == v.new_tree.end() || o->second.empty() || n->second.empty())
      return false;
    sums.push_back({Crc32(o->second), Crc32(n->second)});
  }
  for (size_t i = 0; i < sums.size(); ++i)
    for (size_t j = i + 1; j < sums.size(); ++j) {
      const auto& a = sums[i];
      const auto& b = sums[j];
      if (a.first == b.first || a.first == b.second || a.second == b.first || a.second == b.second)
        return false;
    }
  return true;
}

std::string ChooseKeyFile(const std::vector<Variant>& variants, const std::vector<std::string>& preferred,
                          const std::string& requested) {
  if (!requested.empty()) {
    std::string path = requested;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path[0] != '/') path = "/" + path;
    if (!Distinguishes(variants, path))
      throw AuthoringError(
          "key file " + requested +
          " does not tell the variants apart: it must exist, non-empty, in every tree, with a "
          "different checksum in each variant, old and new");
    return path;
  }
  for (const auto& path : preferred)
    if (Distinguishes(variants, path)) return path;
  for (const auto& [path, bytes] : variants[0].old_tree)
    if (Distinguishes(variants, path)) return path;
  throw AuthoringError(
      "the variants differ but no file tells them apart: a key file must exist in every old and new tree "
      "with a "
      "different checksum in each variant");
}

void ResourceOf(BuiltPatch& patch, int id, Bytes bytes) {
  patch.resources.push_back({static_cast<uint16_t>(id), std::move(bytes)});
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

BuiltPatch BuildPatch(const std::vector<Variant>& variants, const PatchManifest& header,
                      const std::string& key_file) {
  if (variants.empty()) throw AuthoringError("no installation trees given");
  if (!IsVersionText(header.from) || !IsVersionText(header.to))
    throw AuthoringError("versions must be two numbers joined by a full stop, such as 1.00");
  if (header.from == header.to) throw AuthoringError("the versions to patch from and to are the same");
  for (const RegValue* r :
       {&header.reg_path, &header.reg_version, &header.reg_version2, &header.reg_language}) {
    if (r->key.empty() || r->value.empty()) throw AuthoringError("registry locations need a key and a value");
    CheckText("registry location", r->key);
    CheckText("registry location", r->value);
  }
  std::set<std::string> names;
  for (const auto& v : variants) {
    CheckText("variant name", v.name);
    if (variants.size() > 1 && !names.insert(v.name).second)
      throw AuthoringError("two variants named " + v.name);
  }

  std::vector<std::map<std::string, Change>> changes;
  for (const auto& v : variants) {
    for (const FileTree* tree : {&v.old_tree, &v.new_tree})
      for (const auto& entry : *tree) CheckCarriablePath(entry.first);
    CheckFileDirectoryClash(v);
    changes.push_back(Changes(v));
  }
  std::map<std::string, Change> common;
  for (const auto& [path, change] : changes[0]) {
    bool everywhere = true;
    for (size_t i = 1; i < changes.size() && everywhere; ++i) {
      const auto other = changes[i].find(path);
      everywhere = other != changes[i].end() && SameChange(change, other->second);
    }
    if (everywhere) common.emplace(path, change);
  }
  std::vector<std::map<std::string, Change>> own(variants.size());
  bool any_own = false;
  for (size_t i = 0; i < variants.size(); ++i)
    for (const auto& [path, change] : changes[i])
      if (!common.count(path)) {
        own[i].emplace(path, change);
        any_own = true;
      }
  if (common.empty() && !any_own)
    throw AuthoringError("old and new installation are identical: nothing to patch");

  std::string key;
  if (any_own) {
    std::vector<std::string> preferred;
    for (const auto& o : own)
      for (const auto& entry : o) preferred.push_back(entry.first);
    std::sort(preferred.begin(), preferred.end());
    key = ChooseKeyFile(variants, preferred, key_file);
  }

  // Ids: 5001 for the main manifest, then each group's pack document followed
  // by one id per payload of its Added and Updated entries.
  size_t needed = 1;
  auto count_group = [&](const std::map<std::string, Change>& group) {
    if (group.empty()) return;
    needed += 1;
    for (const auto& entry : group)
      if (entry.second.kind != Deleted) ++needed;
  };
  count_group(common);
  for (const auto& o : own) count_group(o);
  if (kFirstResourceId + needed - 1 > kLastResourceId)
    throw AuthoringError("the patch needs " + std::to_string(needed) +
                         " resources, more than ids 5001..65535 hold");

  BuiltPatch patch;
  patch.documents.header = header;
  int next_id = kFirstResourceId + 1;
  auto make_group = [&](const std::map<std::string, Change>& group, AuthoredGroup g) {
    if (group.empty()) return;
    g.pack_id = next_id++;
    for (FilePatchKind kind : {Added, Updated, Deleted}) {
      for (const auto& [path, change] : group) {
        if (change.kind != kind) continue;
        AuthoredFile f;
        f.kind = kind;
        f.subpath = path;
        if (kind != Deleted) {
          f.id = next_id++;
          Bytes payload = MakePayload(f, change.old_file, *change.new_file);
          ResourceOf(patch, f.id, std::move(payload));
        }
        g.files.push_back(f);
      }
    }
    ResourceOf(patch, g.pack_id, TextBytes(WritePackDocument(g)));
    patch.documents.groups.push_back(std::move(g));
  };
  make_group(common, AuthoredGroup());
  for (size_t i = 0; i < variants.size(); ++i) {
    AuthoredGroup g;
    g.filtered = true;
    g.name = variants[i].name;
    g.filename = key.empty() ? std::string() : key.substr(1);
    if (!key.empty()) {
      g.crc = Crc32(variants[i].old_tree.at(key));
      g.crc2 = Crc32(variants[i].new_tree.at(key));
    }
    make_group(own[i], g);
  }
  ResourceOf(patch, kFirstResourceId, TextBytes(WriteMainManifest(patch.documents)));
  std::sort(patch.resources.begin(), patch.resources.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return patch;
}

namespace {

// The patcher's checksum cache lives for the process and is keyed by path:
// each check installs its variant under a directory name of its own, so
// that no checksum of another variant's key file is taken from the cache.
WideText FreshCheckDirectory() {
  static int checks = 0;
  return WidenAscii(("C:\\Check" + std::to_string(++checks)).c_str());
}

// The file's path in a tree from the patcher's view of an entry.
std::string TreePath(const FilePatch& entry) {
  std::string path = WideToUtf8(entry.dir_part + entry.name_part);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.empty() || path[0] != '/' ? "/" + path : path;
}

[[noreturn]] void Refuse(const std::string& variant, const std::string& path, const std::string& why) {
  throw AuthoringError("self-check failed for variant " + variant + ", " + path + ": " + why +
                       "; no patch written");
}

// The payload's bytes as the patcher gets them into "new.dat".
Bytes Unpack(const FilePatch& entry, const Bytes& resource, const std::string& variant,
             const std::string& path) {
  if (!entry.comp) return resource;
  if (ParseInt64(entry.comp_size) != static_cast<int64_t>(resource.size()))
    Refuse(variant, path, "comp_size is not the payload's size");
  Bytes out;
  if (!Inflate(resource, out)) Refuse(variant, path, "payload does not inflate");
  return out;
}

}  // namespace

void SelfCheck(const BuiltPatch& patch, const std::vector<Variant>& variants) {
  std::map<int, const Bytes*> by_id;
  for (const auto& r : patch.resources) by_id[r.first] = &r.second;
  const DataResourceLoader load = [&](int id) {
    const auto found = by_id.find(id & 0xFFFF);
    if (found == by_id.end()) RaiseInternalError("Cannot find resource");
    if (found->second->empty()) RaiseInternalError("Cannot get resource length");
    return DataResource{found->second->data(), static_cast<uint32_t>(found->second->size())};
  };
  for (size_t index = 0; index < variants.size(); ++index) {
    const Variant& v = variants[index];
    const WideText base = FreshCheckDirectory();
    FileTree tree = v.old_tree;
    const FileChecksum checksum = [&](const WideText& path, NarrowText& text) {
      if (path.compare(0, base.size(), base) != 0) return false;
      std::string relative = WideToUtf8(path.substr(base.size()));
      std::replace(relative.begin(), relative.end(), '\\', '/');
      const auto found = tree.find(relative);
      if (found == tree.end() || found->second.empty()) return false;
      text = ChecksumText(Crc32(found->second));
      return true;
    };
    FilePatchList list;
    int64_t space = 0;
    try {
      const Bytes& manifest = *by_id.at(kFirstResourceId);
      ReadPatchManifest(reinterpret_cast<const char*>(manifest.data()), manifest.size());
      space = CollectFilePatches(list, base, load, checksum);
    } catch (const std::exception& e) {
      Refuse(v.name, "main manifest", std::string("the patcher would stop with \"") + e.what() + "\"");
    }
    int64_t expected_space = 0;
    for (const auto& g : patch.documents.groups)
      if (!g.filtered || g.name == v.name) expected_space += g.RequiredSpace();
    if (space != expected_space)
      Refuse(v.name, "main manifest", "the groups selected are not the variant's own");

    for (const auto& entry : list) {
      const std::string path = TreePath(*entry);
      if (entry->kind == Deleted) {
        tree.erase(path);
        continue;
      }
      const Bytes& resource = *by_id.at(entry->id);
      const Bytes payload = Unpack(*entry, resource, v.name, path);
      Bytes rebuilt;
      if (entry->kind == Updated) {
        const auto old = tree.find(path);
        if (old == tree.end()) Refuse(v.name, path, "the file to update is missing");
        if (ParseInt64(entry->size_org) != static_cast<int64_t>(old->second.size()) ||
            entry->crc_org != ChecksumText(Crc32(old->second)))
          Refuse(v.name, path, "size_org or crc_org is not the installed file's");
        if (entry->diff) {
          if (ParseInt64(entry->diff_size) != static_cast<int64_t>(payload.size()))
            Refuse(v.name, path, "diff_size is not the diff's length");
          MemoryReader old_reader(old->second);
          MemoryReader diff_reader(payload);
          MemoryWriter writer(kFileSizeLimit);
          if (!DecodeDiff(writer, old_reader, diff_reader)) Refuse(v.name, path, "the diff does not decode");
          rebuilt = std::move(writer.bytes);
        } else {
          rebuilt = payload;
        }
      } else {
        rebuilt = payload;
      }
      if (ParseInt64(entry->size) != static_cast<int64_t>(rebuilt.size()) ||
          entry->crc != ChecksumText(Crc32(rebuilt)))
        Refuse(v.name, path, "the rebuilt file's size or checksum is not the one the pack document gives");
      tree[path] = std::move(rebuilt);
    }
    for (const auto& [path, bytes] : v.new_tree) {
      const auto found = tree.find(path);
      if (found == tree.end()) Refuse(v.name, path, "the patched installation lacks this file");
      if (found->second != bytes) Refuse(v.name, path, "the patched file differs from the new one");
    }
    for (const auto& entry : tree)
      if (!v.new_tree.count(entry.first))
        Refuse(v.name, entry.first, "the patched installation keeps this file");
  }
}

Bytes MakePatchExecutable(const Bytes& stub, const BuiltPatch& patch) {
  for (const auto& r : ReadPeResources(stub))
    if (!r.type.is_id && r.type.text == u"DATA")
      throw AuthoringError(
          "the stub patcher already carries DATA resources; use the stub build (qtr_patch_stub)");
  Bytes image = AddDataResources(stub, patch.resources);
  // Read the resources back the way they were written, as a check of the
  // resource tree itself.
  size_t found = 0;
  for (const auto& r : ReadPeResources(image)) {
    if (r.type.is_id || r.type.text != u"DATA") continue;
    const auto want = std::find_if(patch.resources.begin(), patch.resources.end(),
                                   [&](const auto& p) { return r.name.is_id && p.first == r.name.id; });
    if (want == patch.resources.end() || want->second != r.data || r.language != 1033)
      throw AuthoringError("resource tree written wrongly; no patch written");
    ++found;
  }
  if (found != patch.resources.size())
    throw AuthoringError("resource tree written wrongly; no patch written");
  return image;
}

void WriteFileAtomically(const std::string& path, const Bytes& bytes) {
  const std::string temp = path + ".partial";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (out)
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      throw AuthoringError("cannot write " + path);
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    throw AuthoringError("cannot write " + path);
  }
}
