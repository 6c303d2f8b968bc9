#include "files/file_crc.h"
#include "manifest/data_resource.h"
#include "manifest/group_selection.h"

int64_t CollectFilePatches(FilePatchList& list, const WideText& installationDirectory) {
  return CollectFilePatches(
      list, installationDirectory, LoadDataResource,
      [](const WideText& path, NarrowText& text) { return FileCrcText(path, nullptr, text); });
}
