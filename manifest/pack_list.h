#pragma once
// Pack documents: the lists of files a pack adds, updates and deletes, read
// into entries of the file plan.
#include <functional>
#include <memory>

#include "manifest/data_resource.h"
#include "manifest/file_patch.h"
#include "manifest/text.h"

class TiXmlElement;

// Hands out the "DATA" resource of an id; raises like LoadDataResource when
// there is none. The patcher passes LoadDataResource itself.
using DataResourceLoader = std::function<DataResource(int id)>;

// Reads pack document `id` and appends its entries to `list`: every Added
// entry, then every Updated, then every Deleted, each in document order.
// `root` is the pack's root, already converted and normalised by the caller;
// `base_dir` the normalised installation directory with one trailing "\".
// Raises InternalError "Invalid sub patch" (no `patch` element), "FilePatch"
// (an entry lacks an attribute its kind needs) or the loader's messages.
// Entries appended before a failure stay in the list.
void ReadSubPatch(int id, const WideText& root, const WideText& base_dir, FilePatchList& list,
                  const DataResourceLoader& load);

// One entry from a `file` element (null raises "FilePatch", as does an empty
// `base_dir`). Attributes are read in a fixed order, so an element lacking
// several fails at the first of them.
std::unique_ptr<FilePatch> MakeFilePatch(const TiXmlElement* element, FilePatchKind kind,
                                         const WideText& base_dir, const WideText& root);

// The attribute's text; raises "FilePatch" when it is absent.
NarrowText RequiredAttribute(const TiXmlElement& element, const char* name);
