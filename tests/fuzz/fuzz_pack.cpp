// The pack reader and group selection on arbitrary bytes: the input is served
// as every data resource, so it is read as a pack document and as a main
// manifest whose groups name it again. Either the entries are made or the
// internal error is raised, nothing else; every entry keeps its base
// directory and a name part without separators.
#include <cstdint>

#include "engine/internal_error.h"
#include "manifest/group_selection.h"
#include "manifest/pack_list.h"

namespace {

void CheckEntries(const FilePatchList& list, const WideText& base_dir) {
  for (const auto& entry : list) {
    if (entry->base_dir != base_dir) __builtin_trap();
    if (entry->name_part.find_first_of(u"/\\") != WideText::npos) __builtin_trap();
    if (entry->kind != Added && entry->kind != Updated && entry->kind != Deleted) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const DataResourceLoader load = [data, size](int) {
    if (size == 0) RaiseInternalError("Cannot get resource length");
    return DataResource{data, static_cast<uint32_t>(size)};
  };
  const WideText base_dir = u"C:\\Games\\QTR\\";
  FilePatchList list;
  try {
    ReadSubPatch(5002, u"data", base_dir, list, load);
  } catch (const InternalError&) {
  }
  CheckEntries(list, base_dir);

  ChecksumCache().clear();
  FilePatchList plan;
  try {
    CollectFilePatches(plan, u"C:\\Games\\QTR", load, [](const WideText& path, NarrowText& text) {
      text = path.size() % 2 ? "f14ead6d" : "465b9463";
      return true;
    });
  } catch (const InternalError&) {
  }
  CheckEntries(plan, base_dir);
  return 0;
}
