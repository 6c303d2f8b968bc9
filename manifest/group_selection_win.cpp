#include "files/file_crc.h"
#include "files/file_ops.h"
#include "manifest/data_resource.h"
#include "manifest/group_selection.h"

bool CollectFilePatches(FilePatchList& list, const WideText& installationDirectory, int64_t& required) {
  bool unreadable = false;
  required = CollectFilePatches(list, installationDirectory, LoadDataResource,
                                [&unreadable](const WideText& path, NarrowText& text) {
                                  if (FileCrcText(path, nullptr, text)) return true;
                                  // Absent or empty, a file has no checksum; one that is there
                                  // and cannot be read might have had the group's.
                                  int64_t size = -1;
                                  if (!IsAbsent(path) && !(GetFileSize64(path, size) && size == 0)) unreadable = true;
                                  return false;
                                });
  return !unreadable;
}
