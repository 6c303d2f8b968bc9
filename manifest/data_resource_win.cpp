#include <windows.h>

#include "engine/internal_error.h"
#include "manifest/data_resource.h"

DataResource LoadDataResource(int id) {
  DataResource view;
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id & 0xFFFF), "DATA");
  if (info == nullptr) RaiseInternalError("Cannot find resource");
  view.length = SizeofResource(module, info);
  if (view.length == 0) RaiseInternalError("Cannot get resource length");
  HGLOBAL loaded = LoadResource(module, info);
  if (loaded == nullptr) RaiseInternalError("Cannot load resource");
  view.data = static_cast<const uint8_t*>(LockResource(loaded));
  if (view.data == nullptr) RaiseInternalError("Cannot lock resource");
  return view;
}
