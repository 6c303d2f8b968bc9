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

uint32_t DirectorySize(size_t entries) { return static_cast<uint32_t>(16 + 8 * entries); }

template <typename Map>
size_t CountNamed(const Map& map) {
  size_t named = 0;
  for (const auto& e : map)
    if (!e.first.is_id) ++named;
  return named;
}

// The resource tree as it is laid out: all directories (root, types,
// names, languages) in breadth-first order, the data entries, the name
// strings, then the data, each item 8-byte aligned.
class TreeLayout {
 public:
  explicit TreeLayout(const TypeMap& types) {
    uint32_t directories = DirectorySize(types.size());
    size_t resource_count = 0;
    for (const auto& t : types) {
      directories += DirectorySize(t.second.size());
      for (const auto& n : t.second) {
        directories += DirectorySize(n.second.size());
        resource_count += n.second.size();
      }
    }
    next_directory_ = DirectorySize(types.size());
    next_data_entry_ = directories;
    tree_.resize(directories + static_cast<uint32_t>(16 * resource_count));
  }

  // Writes the directory at `at` of `map`, whose entries are directories:
  // each is given the next place and returned with it, in order.
  template <typename Map>
  std::vector<std::pair<uint32_t, const typename Map::mapped_type*>> Directory(uint32_t at, const Map& map) {
    std::vector<std::pair<uint32_t, const typename Map::mapped_type*>> children;
    Header(at, CountNamed(map), map.size() - CountNamed(map));
    size_t index = 0;
    for (const auto& e : map) {
      Put32(tree_, at + 16 + 8 * index, NameField(e.first));
      Put32(tree_, at + 16 + 8 * index + 4, next_directory_ | 0x80000000u);
      children.push_back({next_directory_, &e.second});
      next_directory_ += DirectorySize(e.second.size());
      ++index;
    }
    return children;
  }

  // Writes the directory at `at` of one name's languages, whose entries are
  // data entries: each is given the next one and returned with it.
  std::vector<std::pair<uint32_t, const ResourceEntry*>> Languages(uint32_t at, const LanguageMap& languages) {
    std::vector<std::pair<uint32_t, const ResourceEntry*>> slots;
    Header(at, 0, languages.size());
    size_t index = 0;
    for (const auto& l : languages) {
      Put32(tree_, at + 16 + 8 * index, l.first);
      Put32(tree_, at + 16 + 8 * index + 4, next_data_entry_);
      slots.push_back({next_data_entry_, l.second});
      next_data_entry_ += 16;
      ++index;
    }
    return slots;
  }

  // Appends each resource's data and fills its data entry; the section is
  // loaded at `section_rva`.
  Bytes Data(const std::vector<std::pair<uint32_t, const ResourceEntry*>>& slots, uint32_t section_rva) && {
    for (const auto& slot : slots) {
      tree_.resize(AlignUp(static_cast<uint32_t>(tree_.size()), 8));
      const uint32_t at = static_cast<uint32_t>(tree_.size());
      tree_.insert(tree_.end(), slot.second->data.begin(), slot.second->data.end());
      Put32(tree_, slot.first, section_rva + at);
      Put32(tree_, slot.first + 4, static_cast<uint32_t>(slot.second->data.size()));
      Put32(tree_, slot.first + 8, slot.second->code_page);
    }
    tree_.resize(AlignUp(static_cast<uint32_t>(tree_.size()), 8));
    return std::move(tree_);
  }

 private:
  // A number, or the offset of the name's string (written when first met).
  uint32_t NameField(const ResourceName& name) {
    if (name.is_id) return name.id;
    auto found = string_offsets_.find(name.text);
    if (found != string_offsets_.end()) return found->second | 0x80000000u;
    const uint32_t at = static_cast<uint32_t>(tree_.size());
    tree_.resize(at + 2 + 2 * name.text.size());
    Put16(tree_, at, static_cast<uint32_t>(name.text.size()));
    for (size_t i = 0; i < name.text.size(); ++i) Put16(tree_, at + 2 + 2 * i, name.text[i]);
    string_offsets_[name.text] = at;
    return at | 0x80000000u;
  }
  void Header(uint32_t at, size_t named, size_t ids) {
    Put16(tree_, at + 12, static_cast<uint32_t>(named));
    Put16(tree_, at + 14, static_cast<uint32_t>(ids));
  }

  Bytes tree_;
  std::map<std::u16string, uint32_t> string_offsets_;
  uint32_t next_directory_ = 0, next_data_entry_ = 0;
};

Bytes BuildTree(const TypeMap& types, uint32_t section_rva) {
  TreeLayout layout(types);
  std::vector<std::pair<uint32_t, const LanguageMap*>> language_dirs;
  for (const auto& name_dir : layout.Directory(0, types))
    for (const auto& language_dir : layout.Directory(name_dir.first, *name_dir.second))
      language_dirs.push_back(language_dir);
  std::vector<std::pair<uint32_t, const ResourceEntry*>> data_slots;
  for (const auto& language_dir : language_dirs)
    for (const auto& slot : layout.Languages(language_dir.first, *language_dir.second)) data_slots.push_back(slot);
  return std::move(layout).Data(data_slots, section_rva);
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

// Where the resource section goes: its header's offset, its address and
// its file offset, and the initialised data of the other sections.
struct SectionPlace {
  size_t header;
  uint32_t va, raw_pointer;
  uint32_t initialised;
};

// In place of the last section when that is the resource section, else as
// a new last section, whose header `out` gets with its name and count.
SectionPlace PlaceResourceSection(const PeLayout& pe, Bytes& out) {
  const Section& last = pe.sections.back();
  const uint64_t raw_end = uint64_t{last.raw_pointer} + last.raw_size;
  if (raw_end != out.size())
    throw AuthoringError("data after the last section would be lost");
  const uint32_t resource_rva = Get32(out, pe.data_directories + 8 * kResourceDirectory);
  const bool replace_last = resource_rva != 0 && resource_rva == last.virtual_address;
  SectionPlace place;
  place.initialised = Get32(out, pe.optional + 8);
  if (replace_last) {
    place.header = last.header;
    place.va = last.virtual_address;
    place.raw_pointer = last.raw_pointer;
    place.initialised -= std::min(place.initialised, last.raw_size);
    return place;
  }
  place.header = pe.section_table + pe.sections.size() * kSectionHeaderSize;
  uint32_t first_raw = pe.size_of_headers;
  for (const auto& s : pe.sections)
    if (s.raw_size != 0) first_raw = std::min(first_raw, s.raw_pointer);
  if (place.header + kSectionHeaderSize > first_raw)
    throw AuthoringError("no room for another section header");
  for (size_t i = 0; i < kSectionHeaderSize; ++i)
    if (out[place.header + i] != 0) throw AuthoringError("no room for another section header");
  place.va = AlignUp(last.virtual_address + std::max(last.virtual_size, last.raw_size), pe.section_alignment);
  place.raw_pointer = AlignUp(static_cast<uint32_t>(raw_end), pe.file_alignment);
  Put16(out, pe.coff + 2, static_cast<uint32_t>(pe.sections.size() + 1));
  static const char kName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  std::copy(kName, kName + 8, out.begin() + static_cast<long>(place.header));
  return place;
}

// The section header, the data directory, the image's sizes and its
// checksum, for a resource tree of `tree_size` bytes at `place`.
void WriteSectionHeaders(const PeLayout& pe, const SectionPlace& place, uint32_t tree_size, uint32_t raw_size,
                         Bytes& out) {
  const size_t header = place.header;
  Put32(out, header + 8, tree_size);
  Put32(out, header + 12, place.va);
  Put32(out, header + 16, raw_size);
  Put32(out, header + 20, place.raw_pointer);
  for (size_t i = 24; i < 36; ++i) out[header + i] = 0;
  Put32(out, header + 36, kSectionCharacteristics);
  Put32(out, pe.data_directories + 8 * kResourceDirectory, place.va);
  Put32(out, pe.data_directories + 8 * kResourceDirectory + 4, tree_size);
  Put32(out, pe.optional + 8, place.initialised + raw_size);
  Put32(out, pe.optional + 56, AlignUp(place.va + tree_size, pe.section_alignment));
  Put32(out, pe.optional + 64, 0);
  Put32(out, pe.optional + 64, PeChecksum(out));
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
  Bytes out = image;
  const SectionPlace place = PlaceResourceSection(pe, out);
  const Bytes tree = BuildTree(types, place.va);
  const uint32_t raw_size = AlignUp(static_cast<uint32_t>(tree.size()), pe.file_alignment);
  out.resize(place.raw_pointer);
  out.insert(out.end(), tree.begin(), tree.end());
  out.resize(uint64_t{place.raw_pointer} + raw_size);
  WriteSectionHeaders(pe, place, static_cast<uint32_t>(tree.size()), raw_size, out);
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
