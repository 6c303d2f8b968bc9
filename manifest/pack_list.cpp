#include "manifest/pack_list.h"

#include "engine/internal_error.h"
#include "files/file_ops.h"
#include "manifest/xml_document.h"

namespace {

bool IsYes(const NarrowText& text) { return ParseAtoi(text) == 1; }

void ReadList(const TiXmlElement& patch, const char* listName, FilePatchKind kind, const WideText& root,
              const WideText& base_dir, FilePatchList& list) {
  const TiXmlElement* files = patch.FirstChildElement(listName);
  if (files == nullptr) return;
  for (const TiXmlElement* file = files->FirstChildElement("file"); file != nullptr;
       file = file->NextSiblingElement("file")) {
    list.push_back(MakeFilePatch(file, kind, base_dir, root));
  }
}

}  // namespace

NarrowText RequiredAttribute(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  if (value == nullptr) RaiseInternalError("FilePatch");
  return value;
}

std::unique_ptr<FilePatch> MakeFilePatch(const TiXmlElement* element, FilePatchKind kind,
                                         const WideText& base_dir, const WideText& root) {
  auto entry = std::make_unique<FilePatch>();
  entry->base_dir = base_dir;
  entry->kind = kind;
  if (element == nullptr || base_dir.empty()) RaiseInternalError("FilePatch");

  const WideText rootPart = NormalizePath(root, false);
  const WideText subpathPart = NormalizePath(Utf8ToWide(RequiredAttribute(*element, "subpath")), false);
  const WideText relative = rootPart + u"\\" + subpathPart;
  entry->dir_part = DirPart(relative);
  entry->name_part = NamePart(relative);
  if (kind == Deleted) return entry;

  entry->crc = RequiredAttribute(*element, "crc");
  entry->size = RequiredAttribute(*element, "size");
  entry->id = ParseAtoi(RequiredAttribute(*element, "id"));
  if (IsYes(RequiredAttribute(*element, "comp"))) {
    entry->comp = true;
    entry->comp_size = RequiredAttribute(*element, "comp_size");
  }
  if (kind == Added) return entry;

  entry->crc_org = RequiredAttribute(*element, "crc_org");
  entry->size_org = RequiredAttribute(*element, "size_org");
  if (IsYes(RequiredAttribute(*element, "diff"))) {
    entry->diff = true;
    entry->diff_size = RequiredAttribute(*element, "diff_size");
  }
  return entry;
}

void ReadSubPatch(int id, const WideText& root, const WideText& base_dir, FilePatchList& list,
                  const DataResourceLoader& load) {
  const DataResource resource = load(id);
  TiXmlDocument document;
  ParseDocument(document, reinterpret_cast<const char*>(resource.data), resource.length);
  const TiXmlElement* patch = document.FirstChildElement("patch");
  if (patch == nullptr) RaiseInternalError("Invalid sub patch");
  ReadList(*patch, "added", Added, root, base_dir, list);
  ReadList(*patch, "updated", Updated, root, base_dir, list);
  ReadList(*patch, "deleted", Deleted, root, base_dir, list);
}
