#include "manifest/patch_manifest.h"

#include "engine/internal_error.h"
#include "manifest/xml_document.h"

namespace {

const TiXmlElement& RequiredElement(const TiXmlElement& parent, const char* name) {
  const TiXmlElement* element = parent.FirstChildElement(name);
  if (element == nullptr) RaiseInternalError("Invalid main_xml");
  return *element;
}

RegValue ReadRegValue(const TiXmlElement& patch, const char* name) {
  const TiXmlElement& element = RequiredElement(patch, name);
  RegValue result;
  const char* key = element.Attribute("key");
  const char* value = element.Attribute("value");
  if (key == nullptr || value == nullptr) RaiseInternalError("Cannot init regvalue from xml");
  result.key = key;
  result.value = value;
  return result;
}

}  // namespace

PatchManifest ReadPatchManifest(const char* data, size_t length) {
  TiXmlDocument document;
  ParseDocument(document, data, length);
  const TiXmlElement* patch = document.FirstChildElement("patch");
  if (patch == nullptr) RaiseInternalError("Invalid main_xml");
  const TiXmlElement& version = RequiredElement(*patch, "version");
  const char* from = version.Attribute("from");
  const char* to = version.Attribute("to");
  if (from == nullptr || to == nullptr) RaiseInternalError("Invalid main_xml");

  PatchManifest manifest;
  manifest.from = from;
  manifest.to = to;
  manifest.reg_path = ReadRegValue(*patch, "reg_path");
  manifest.reg_version = ReadRegValue(*patch, "reg_version");
  manifest.reg_version2 = ReadRegValue(*patch, "reg_version2");
  manifest.reg_language = ReadRegValue(*patch, "reg_language");
  return manifest;
}
