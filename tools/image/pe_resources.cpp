#include "tools/image/pe_resources.h"

#include <algorithm>
#include <map>

#include "tools/common/authoring_error.h"

namespace {

constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kSectionCharacteristics = 0x40000040;  // initialised data, readable

uint32_t Get16(const Bytes& b, size_t at) {
  if (at + 2 > b.size()) throw AuthoringError("truncated PE image");
  return b[at] | (b[at + 1] << 8);
}

uint32_t Get32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) throw AuthoringError("truncated PE image");
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

struct Section {
  size_t header;  // file offset of the section header
  uint32_t virtual_size, virtual_address, raw_size, raw_pointer;
};

// The parts of the headers that the resource writer reads and changes.
struct PeLayout {
  size_t coff = 0, optional = 0, data_directories = 0, section_table = 0;
  uint32_t section_alignment = 0, file_alignment = 0, size_of_headers = 0;
  std::vector<Section> sections;
};

PeLayout ParseLayout(const Bytes& image) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z')
    throw AuthoringError("not an MZ executable");
  PeLayout pe;
  const size_t signature = Get32(image, 0x3C);
  if (Get32(image, signature) != 0x00004550) throw AuthoringError("no PE signature");
  pe.coff = signature + 4;
  const uint32_t section_count = Get16(image, pe.coff + 2);
  const uint32_t optional_size = Get16(image, pe.coff + 16);
  pe.optional = pe.coff + 20;
  const uint32_t magic = Get16(image, pe.optional);
  if (magic != 0x10B && magic != 0x20B) throw AuthoringError("unknown optional header");
  pe.data_directories = pe.optional + (magic == 0x10B ? 96 : 112);
  if (Get32(image, pe.data_directories - 4) <= kResourceDirectory)
    throw AuthoringError("no resource data directory");
  pe.section_alignment = Get32(image, pe.optional + 32);
  pe.file_alignment = Get32(image, pe.optional + 36);
  pe.size_of_headers = Get32(image, pe.optional + 60);
  if (pe.section_alignment == 0 || pe.file_alignment == 0)
    throw AuthoringError("zero section alignment");
  pe.section_table = pe.optional + optional_size;
  for (uint32_t i = 0; i < section_count; ++i) {
    const size_t h = pe.section_table + i * kSectionHeaderSize;
    pe.sections.push_back(
        {h, Get32(image, h + 8), Get32(image, h + 12), Get32(image, h + 16), Get32(image, h + 20)});
  }
  if (pe.sections.empty()) throw AuthoringError("no sections");
  return pe;
}

// Reads the resource tree of the section that holds it.
class TreeReader {
 public:
  TreeReader(const Bytes& image, const Section& section, uint32_t root_rva)
      : image_(image), section_(section), base_(Offset(root_rva)) {}

  void Read(std::vector<ResourceEntry>& out) { Directory(0, 0, ResourceName(), ResourceName(), out); }

 private:
  size_t Offset(uint32_t rva) const {
    if (rva < section_.virtual_address || rva - section_.virtual_address >= section_.raw_size)
      throw AuthoringError("resource tree points outside its section");
    return section_.raw_pointer + (rva - section_.virtual_address);
  }

  ResourceName Name(uint32_t field) const {
    ResourceName name;
    if (!(field & 0x80000000u)) {
      name.id = static_cast<uint16_t>(field);
      return name;
    }
    name.is_id = false;
    const size_t at = base_ + (field & 0x7FFFFFFFu);
    const uint32_t length = Get16(image_, at);
    for (uint32_t i = 0; i < length; ++i)
      name.text.push_back(static_cast<char16_t>(Get16(image_, at + 2 + 2 * i)));
    return name;
  }

  void Directory(uint32_t offset, int level, const ResourceName& type, const ResourceName& name,
                 std::vector<ResourceEntry>& out) {
    if (level > 2) throw AuthoringError("resource tree too deep");
    const size_t at = base_ + offset;
    const uint32_t count = Get16(image_, at + 12) + Get16(image_, at + 14);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t entry = at + 16 + 8 * i;
      const ResourceName key = Name(Get32(image_, entry));
      const uint32_t target = Get32(image_, entry + 4);
      if (target & 0x80000000u) {
        Directory(target & 0x7FFFFFFFu, level + 1, level == 0 ? key : type, level == 1 ? key : name, out);
        continue;
      }
      if (level != 2) throw AuthoringError("resource data outside the language level");
      const size_t data_entry = base_ + target;
      ResourceEntry resource;
      resource.type = type;
      resource.name = name;
      resource.language = key.id;
      const uint32_t size = Get32(image_, data_entry + 4);
      resource.code_page = Get32(image_, data_entry + 8);
      if (size > 0) {
        const size_t data = Offset(Get32(image_, data_entry));
        if (data + size > image_.size())
          throw AuthoringError("resource data beyond the file");
        resource.data.assign(image_.begin() + static_cast<long>(data),
                             image_.begin() + static_cast<long>(data + size));
      }
      out.push_back(std::move(resource));
    }
  }

  const Bytes& image_;
  const Section& section_;
  size_t base_;
};

// Named entries come first, in the order of their upper-cased units; then
// numbered ones by number: the order the loader's binary search expects.
struct NameOrder {
  static std::u16string Upper(const std::u16string& s) {
    std::u16string u = s;
    for (auto& c : u)
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    return u;
  }
  bool operator()(const ResourceName& a, const ResourceName& b) const {
    if (a.is_id != b.is_id) return !a.is_id;
    if (a.is_id) return a.id < b.id;
    return Upper(a.text) < Upper(b.text);
  }
};

using LanguageMap = std::map<uint16_t, const ResourceEntry*>;
using NameMap = std::map<ResourceName, LanguageMap, NameOrder>;
using TypeMap = std::map<ResourceName, NameMap, NameOrder>;

// Lays the tree out as: all directories (root, types, names), the data
// entries, the name strings, then the data, each item 8-byte aligned.
Bytes BuildTree(const TypeMap& types, uint32_t section_rva) {
  auto dir_size = [](size_t entries) { return static_cast<uint32_t>(16 + 8 * entries); };
  uint32_t directories = dir_size(types.size());
  size_t resource_count = 0;
  for (const auto& t : types) {
    directories += dir_size(t.second.size());
    for (const auto& n : t.second) {
      directories += dir_size(n.second.size());
      resource_count += n.second.size();
    }
  }
  const uint32_t data_entries = directories;
  uint32_t strings = data_entries + static_cast<uint32_t>(16 * resource_count);
  Bytes tree(strings);
  std::map<std::u16string, uint32_t> string_offsets;
  auto name_field = [&](const ResourceName& name) -> uint32_t {
    if (name.is_id) return name.id;
    auto found = string_offsets.find(name.text);
    if (found != string_offsets.end()) return found->second | 0x80000000u;
    const uint32_t at = static_cast<uint32_t>(tree.size());
    tree.resize(at + 2 + 2 * name.text.size());
    Put16(tree, at, static_cast<uint32_t>(name.text.size()));
    for (size_t i = 0; i < name.text.size(); ++i) Put16(tree, at + 2 + 2 * i, name.text[i]);
    string_offsets[name.text] = at;
    return at | 0x80000000u;
  };
  auto write_dir_header = [&](uint32_t at, size_t named, size_t ids) {
    Put16(tree, at + 12, static_cast<uint32_t>(named));
    Put16(tree, at + 14, static_cast<uint32_t>(ids));
  };
  auto count_named = [](const auto& map) {
    size_t named = 0;
    for (const auto& e : map)
      if (!e.first.is_id) ++named;
    return named;
  };

  // Directory offsets in breadth-first order.
  uint32_t next_dir = dir_size(types.size());
  uint32_t next_data_entry = data_entries;
  std::vector<std::pair<uint32_t, const NameMap*>> name_dirs;
  write_dir_header(0, count_named(types), types.size() - count_named(types));
  size_t index = 0;
  for (const auto& t : types) {
    Put32(tree, 16 + 8 * index, name_field(t.first));
    Put32(tree, 16 + 8 * index + 4, next_dir | 0x80000000u);
    name_dirs.push_back({next_dir, &t.second});
    next_dir += dir_size(t.second.size());
    ++index;
  }
  std::vector<std::pair<uint32_t, const LanguageMap*>> language_dirs;
  for (const auto& nd : name_dirs) {
    write_dir_header(nd.first, count_named(*nd.second), nd.second->size() - count_named(*nd.second));
    index = 0;
    for (const auto& n : *nd.second) {
      Put32(tree, nd.first + 16 + 8 * index, name_field(n.first));
      Put32(tree, nd.first + 16 + 8 * index + 4, next_dir | 0x80000000u);
      language_dirs.push_back({next_dir, &n.second});
      next_dir += dir_size(n.second.size());
      ++index;
    }
  }
  std::vector<std::pair<uint32_t, const ResourceEntry*>> data_slots;
  for (const auto& ld : language_dirs) {
    write_dir_header(ld.first, 0, ld.second->size());
    index = 0;
    for (const auto& l : *ld.second) {
      Put32(tree, ld.first + 16 + 8 * index, l.first);
      Put32(tree, ld.first + 16 + 8 * index + 4, next_data_entry);
      data_slots.push_back({next_data_entry, l.second});
      next_data_entry += 16;
      ++index;
    }
  }
  for (const auto& slot : data_slots) {
    tree.resize(AlignUp(static_cast<uint32_t>(tree.size()), 8));
    const uint32_t at = static_cast<uint32_t>(tree.size());
    tree.insert(tree.end(), slot.second->data.begin(), slot.second->data.end());
    Put32(tree, slot.first, section_rva + at);
    Put32(tree, slot.first + 4, static_cast<uint32_t>(slot.second->data.size()));
    Put32(tree, slot.first + 8, slot.second->code_page);
  }
  tree.resize(AlignUp(static_cast<uint32_t>(tree.size()), 8));
  return tree;
}

// The header checksum: the 16-bit words of the file summed with end-around
// carry, plus the file's length. The checksum field must be zero.
uint32_t PeChecksum(const Bytes& image) {
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) {
    uint32_t word = image[i];
    if (i + 1 < image.size()) word |= image[i + 1] << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}

}  // namespace

std::vector<ResourceEntry> ReadPeResources(const Bytes& image) {
  const PeLayout pe = ParseLayout(image);
  const uint32_t rva = Get32(image, pe.data_directories + 8 * kResourceDirectory);
  std::vector<ResourceEntry> out;
  if (rva == 0) return out;
  for (const auto& s : pe.sections) {
    if (rva >= s.virtual_address && rva - s.virtual_address < std::max(s.raw_size, s.virtual_size)) {
      if (s.raw_pointer + uint64_t{s.raw_size} > image.size())
        throw AuthoringError("resource section beyond the file");
      TreeReader(image, s, rva).Read(out);
      return out;
    }
  }
  throw AuthoringError("resource tree in no section");
}

Bytes WritePeResources(const Bytes& image, const std::vector<ResourceEntry>& resources) {
  const PeLayout pe = ParseLayout(image);
  TypeMap types;
  for (const auto& r : resources) types[r.type][r.name][r.language] = &r;

  const Section& last = pe.sections.back();
  const uint64_t raw_end = uint64_t{last.raw_pointer} + last.raw_size;
  if (raw_end != image.size())
    throw AuthoringError("data after the last section would be lost");
  const uint32_t resource_rva = Get32(image, pe.data_directories + 8 * kResourceDirectory);
  const bool replace_last = resource_rva != 0 && resource_rva == last.virtual_address;

  Bytes out = image;
  size_t header;
  uint32_t va, raw_pointer;
  uint32_t initialised = Get32(out, pe.optional + 8);
  if (replace_last) {
    header = last.header;
    va = last.virtual_address;
    raw_pointer = last.raw_pointer;
    initialised -= std::min(initialised, last.raw_size);
  } else {
    header = pe.section_table + pe.sections.size() * kSectionHeaderSize;
    uint32_t first_raw = pe.size_of_headers;
    for (const auto& s : pe.sections)
      if (s.raw_size != 0) first_raw = std::min(first_raw, s.raw_pointer);
    if (header + kSectionHeaderSize > first_raw)
      throw AuthoringError("no room for another section header");
    for (size_t i = 0; i < kSectionHeaderSize; ++i)
      if (out[header + i] != 0) throw AuthoringError("no room for another section header");
    va = AlignUp(last.virtual_address + std::max(last.virtual_size, last.raw_size), pe.section_alignment);
    raw_pointer = AlignUp(static_cast<uint32_t>(raw_end), pe.file_alignment);
    Put16(out, pe.coff + 2, static_cast<uint32_t>(pe.sections.size() + 1));
    static const char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
    std::copy(kName, kName + 8, out.begin() + static_cast<long>(header));
  }
  const Bytes tree = BuildTree(types, va);
  const uint32_t raw_size = AlignUp(static_cast<uint32_t>(tree.size()), pe.file_alignment);
  out.resize(raw_pointer);
  out.insert(out.end(), tree.begin(), tree.end());
  out.resize(uint64_t{raw_pointer} + raw_size);

  Put32(out, header + 8, static_cast<uint32_t>(tree.size()));
  Put32(out, header + 12, va);
  Put32(out, header + 16, raw_size);
  Put32(out, header + 20, raw_pointer);
  for (size_t i = 24; i < 36; ++i) out[header + i] = 0;
  Put32(out, header + 36, kSectionCharacteristics);
  Put32(out, pe.data_directories + 8 * kResourceDirectory, va);
  Put32(out, pe.data_directories + 8 * kResourceDirectory + 4, static_cast<uint32_t>(tree.size()));
  Put32(out, pe.optional + 8, initialised + raw_size);
  Put32(out, pe.optional + 56, AlignUp(va + static_cast<uint32_t>(tree.size()), pe.section_alignment));
  Put32(out, pe.optional + 64, 0);
  Put32(out, pe.optional + 64, PeChecksum(out));
  return out;
}

Bytes AddDataResources(const Bytes& image, const std::vector<std::pair<uint16_t, Bytes>>& data) {
  std::vector<ResourceEntry> resources = ReadPeResources(image);
  for (const auto& d : data) {
    ResourceEntry entry;
    entry.type.is_id = false;
    entry.type.text = u"DATA";
    entry.name.id = d.first;
    entry.language = 1033;
    entry.data = d.second;
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const ResourceEntry& r) {
                                     return !r.type.is_id && r.type.text == u"DATA" && r.name.is_id &&
                                            r.name.id == d.first;
                                   }),
                    resources.end());
    resources.push_back(std::move(entry));
  }
  return WritePeResources(image, resources);
}
