#include "tools/payload/patch_documents.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void Attribute(std::string& out, const char* name, const std::string& value) {
  out += ' ';
  out += name;
  out += "=\"";
  out += Escaped(value);
  out += '"';
}

void RegElement(std::string& out, const char* element, const RegValue& reg) {
  out += "  <";
  out += element;
  Attribute(out, "key", reg.key);
  Attribute(out, "value", reg.value);
  out += "/>\n";
}

void FileElement(std::string& out, const AuthoredFile& f) {
  out += "    <file";
  Attribute(out, "subpath", f.subpath);
  if (f.kind != Deleted) {
    if (f.kind == Updated) {
      Attribute(out, "crc_org", ChecksumText(f.crc_org));
      Attribute(out, "size_org", std::to_string(f.size_org));
    }
    Attribute(out, "crc", ChecksumText(f.crc));
    Attribute(out, "size", std::to_string(f.size));
    Attribute(out, "id", std::to_string(f.id));
    if (f.kind == Updated) {
      Attribute(out, "diff", f.diff ? "1" : "0");
      if (f.diff) Attribute(out, "diff_size", std::to_string(f.diff_size));
    }
    Attribute(out, "comp", f.comp ? "1" : "0");
    if (f.comp) Attribute(out, "comp_size", std::to_string(f.comp_size));
  }
  out += "/>\n";
}

}  // namespace

std::string ChecksumText(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
  return text;
}

int64_t AuthoredGroup::RequiredSpace() const {
  int64_t total = 0;
  for (const auto& f : files) {
    if (f.kind == Deleted) continue;
    total += static_cast<int64_t>(f.size);
    if (f.diff) total += static_cast<int64_t>(f.diff_size);
    if (f.comp) total += static_cast<int64_t>(f.comp_size);
  }
  return total;
}

std::string WriteMainManifest(const AuthoredPatch& patch) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<patch>\n  <version";
  Attribute(out, "from", patch.header.from);
  Attribute(out, "to", patch.header.to);
  out += "/>\n";
  RegElement(out, "reg_path", patch.header.reg_path);
  RegElement(out, "reg_version", patch.header.reg_version);
  RegElement(out, "reg_version2", patch.header.reg_version2);
  RegElement(out, "reg_language", patch.header.reg_language);
  for (const auto& g : patch.groups) {
    out += "  <group";
    if (g.filtered) {
      Attribute(out, "name", g.name);
      Attribute(out, "filename", g.filename);
      Attribute(out, "crc", ChecksumText(g.crc));
      Attribute(out, "crc2", ChecksumText(g.crc2));
    }
    Attribute(out, "required_space", std::to_string(g.RequiredSpace()));
    out += ">\n    <pack root=\"\"";
    Attribute(out, "id", std::to_string(g.pack_id));
    out += "/>\n  </group>\n";
  }
  out += "</patch>\n";
  return out;
}

const char* KindName(int kind) {
  static const char* const kNames[] = {"added", "updated", "deleted"};
  return kind >= Added && kind <= Deleted ? kNames[kind] : "unknown";
}

std::string KindColumn(int kind) {
  std::string column = KindName(kind);
  column.resize(std::max<size_t>(column.size(), 8), ' ');
  return column;
}

std::string WritePackDocument(const AuthoredGroup& group) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<patch";
  Attribute(out, "id", std::to_string(group.pack_id));
  Attribute(out, "required_space", std::to_string(group.RequiredSpace()));
  out += ">\n";
  for (int kind = Added; kind <= Deleted; ++kind) {
    std::string files;
    for (const auto& f : group.files)
      if (f.kind == kind) FileElement(files, f);
    out += "  <";
    out += KindName(kind);
    out += files.empty() ? "/>\n" : ">\n" + files + "  </" + KindName(kind) + ">\n";
  }
  out += "</patch>\n";
  return out;
}
