#include "tools/cli/inspect.h"

#include <algorithm>
#include <cstdio>

#include "manifest/pack_list.h"
#include "manifest/xml_document.h"
#include "tools/cli/json_writer.h"
#include "tools/common/authoring_error.h"
#include "tools/payload/patch_documents.h"
#include "tools/tree/paths.h"

namespace {

std::string Text(const char* text) { return text == nullptr ? std::string() : std::string(text); }

std::string EntryPath(const FilePatch& entry) {
  std::string path = WideToUtf8(entry.dir_part + entry.name_part);
  for (auto& c : path)
    if (c == '\\') c = '/';
  return path;
}

size_t PayloadSize(const FilePatch& entry, const PatchResources& resources) {
  const auto found = resources.find(entry.id & 0xFFFF);
  return found == resources.end() ? 0 : found->second.size();
}

std::string PayloadText(const FilePatch& entry, const PatchResources& resources) {
  if (!resources.count(entry.id & 0xFFFF)) return "payload " + std::to_string(entry.id) + ": MISSING";
  std::string text = "payload " + std::to_string(entry.id) + ": ";
  text += entry.diff ? "diff of " + entry.diff_size + " bytes" : std::string("whole file");
  text += entry.comp ? ", zlib" : ", raw";
  return text + ", " + std::to_string(PayloadSize(entry, resources)) + " bytes";
}

std::string RegistryText(const RegValue& r) { return r.key + "\\" + r.value; }

}  // namespace

PatchContents ReadPatchContents(const PatchResources& resources) {
  const Bytes& main = resources.at(kMainManifestId);
  PatchContents contents;
  try {
    contents.header = ReadPatchManifest(reinterpret_cast<const char*>(main.data()), main.size());
  } catch (const std::exception& e) {
    throw AuthoringError(std::string("the main manifest does not read: the patcher stops with \"") + e.what() + "\"");
  }
  const DataResourceLoader load = [&](int id) {
    const auto found = resources.find(id & 0xFFFF);
    if (found == resources.end()) throw std::runtime_error("Cannot find resource");
    if (found->second.empty()) throw std::runtime_error("Cannot get resource length");
    return DataResource{found->second.data(), static_cast<uint32_t>(found->second.size())};
  };
  TiXmlDocument document;
  ParseDocument(document, reinterpret_cast<const char*>(main.data()), main.size());
  const TiXmlElement* patch = document.FirstChildElement("patch");
  for (const TiXmlElement* group = patch->FirstChildElement("group"); group != nullptr;
       group = group->NextSiblingElement("group")) {
    GroupContents g;
    g.filtered = group->Attribute("name") != nullptr && group->Attribute("filename") != nullptr;
    g.name = Text(group->Attribute("name"));
    g.filename = Text(group->Attribute("filename"));
    g.crc = Text(group->Attribute("crc"));
    g.crc2 = Text(group->Attribute("crc2"));
    g.required_space = Text(group->Attribute("required_space"));
    for (const TiXmlElement* pack = group->FirstChildElement("pack"); pack != nullptr;
         pack = pack->NextSiblingElement("pack")) {
      PackContents p;
      p.root = Text(pack->Attribute("root"));
      p.id = ParseAtoi(Text(pack->Attribute("id")));
      try {
        ReadSubPatch(p.id, NormalizePath(Utf8ToWide(p.root), false), u"C:\\Game\\", p.entries, load);
      } catch (const std::exception& e) {
        p.fault = e.what();
      }
      g.packs.push_back(std::move(p));
    }
    contents.groups.push_back(std::move(g));
  }
  return contents;
}

std::vector<std::string> PatchContents::KeyFiles() const {
  std::vector<std::string> keys;
  for (const GroupContents& g : groups) {
    if (!g.filtered) continue;
    std::string key = WideToUtf8(NormalizePath(Utf8ToWide(g.filename), false));
    std::replace(key.begin(), key.end(), '\\', '/');
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  }
  return keys;
}

std::string InspectText(const PatchContents& contents, const PatchResources& resources) {
  std::string out;
  auto line = [&out](const std::string& text) { out += text + "\n"; };
  const PatchManifest& h = contents.header;
  line("patch from " + h.from + " to " + h.to);
  line("registry (below HKEY_LOCAL_MACHINE):");
  line("  installation folder  " + RegistryText(h.reg_path));
  line("  installed version    " + RegistryText(h.reg_version));
  line("  uninstall version    " + RegistryText(h.reg_version2));
  line("  language             " + RegistryText(h.reg_language));
  size_t payload_bytes = 0;
  for (const auto& r : resources) payload_bytes += r.second.size();
  for (size_t i = 0; i < contents.groups.size(); ++i) {
    const GroupContents& g = contents.groups[i];
    std::string head = "group " + std::to_string(i + 1) + ": ";
    head += g.filtered ? "\"" + g.name + "\", when " + g.filename + " has checksum " + g.crc + " (before) or " +
                             g.crc2 + " (after)"
                       : std::string("for every installation");
    line(head + "; required_space " + g.required_space);
    for (const auto& p : g.packs) {
      line("  pack " + std::to_string(p.id) + (p.root.empty() ? "" : " (root " + p.root + ")") + ": " +
           std::to_string(p.entries.size()) + " entries" + (p.fault.empty() ? "" : "; FAULT: " + p.fault));
      for (const auto& e : p.entries) {
        std::string text = "    " + KindColumn(e->kind) + EntryPath(*e);
        if (e->kind == Updated)
          text += "  " + e->size_org + " -> " + e->size + " bytes, " + e->crc_org + " -> " + e->crc;
        if (e->kind == Added) text += "  " + e->size + " bytes, " + e->crc;
        if (e->kind != Deleted) text += "; " + PayloadText(*e, resources);
        line(text);
      }
    }
  }
  const std::vector<std::string> keys = contents.KeyFiles();
  if (!keys.empty()) {
    std::string names;
    for (const auto& k : keys) names += (names.empty() ? "" : ", ") + k;
    line("key files, each read whole by the patcher to select the groups: " + names);
  }
  line(std::to_string(resources.size()) + " resources, " + std::to_string(payload_bytes) + " bytes");
  return out;
}

std::string InspectJson(const PatchContents& contents, const PatchResources& resources) {
  JsonWriter json;
  const PatchManifest& h = contents.header;
  json.BeginObject().String("from", h.from).String("to", h.to).BeginObject("registry");
  const std::pair<const char*, const RegValue*> registry[] = {{"reg_path", &h.reg_path},
                                                              {"reg_version", &h.reg_version},
                                                              {"reg_version2", &h.reg_version2},
                                                              {"reg_language", &h.reg_language}};
  for (const auto& [name, r] : registry)
    json.BeginObject(name).String("key", r->key).String("value", r->value).EndObject();
  json.EndObject().BeginArray("groups");
  for (const auto& g : contents.groups) {
    json.BeginObject().Bool("filtered", g.filtered);
    if (g.filtered)
      json.String("name", g.name).String("filename", g.filename).String("crc", g.crc).String("crc2", g.crc2);
    json.Number("required_space", ParseInt64(g.required_space)).BeginArray("packs");
    for (const auto& p : g.packs) {
      json.BeginObject().Number("id", p.id).String("root", p.root);
      if (!p.fault.empty()) json.String("fault", p.fault);
      json.BeginArray("entries");
      for (const auto& e : p.entries) {
        json.BeginObject().String("kind", KindName(e->kind)).String("path", EntryPath(*e));
        if (e->kind != Deleted) {
          json.Number("size", ParseInt64(e->size)).String("crc", e->crc);
          if (e->kind == Updated) json.Number("size_org", ParseInt64(e->size_org)).String("crc_org", e->crc_org);
          json.BeginObject("payload").Number("id", e->id).Bool("diff", e->diff).Bool("comp", e->comp);
          if (e->diff) json.Number("diff_size", ParseInt64(e->diff_size));
          if (e->comp) json.Number("comp_size", ParseInt64(e->comp_size));
          json.Number("stored_size", static_cast<uint64_t>(PayloadSize(*e, resources))).EndObject();
        }
        json.EndObject();
      }
      json.EndArray().EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray().BeginArray("key_files");
  for (const auto& k : contents.KeyFiles()) json.String(k);
  size_t bytes = 0;
  for (const auto& r : resources) bytes += r.second.size();
  json.EndArray()
      .Number("resources", static_cast<uint64_t>(resources.size()))
      .Number("resource_bytes", static_cast<uint64_t>(bytes));
  return json.EndObject().Text();
}
