#pragma once
// The payloads of a patch's added and updated entries: each file's payload
// made (see MakePayload), small files several at once and large ones one
// at a time on every thread, with the entry's sizes and checksums filled in.
#include <cstddef>
#include <vector>

#include "tools/plan/authoring.h"

// One added or updated entry whose payload is to be made: its place among
// the groups' files, and its change.
struct PayloadJob {
  size_t group;
  size_t file;
  const Change* change;
};

// Makes every job's payload, fills its entry in `patch.documents` and adds
// its resource to `patch.resources`. The first failure in entry order is
// raised, whatever the order the threads met them in; once the payloads
// made pass `options.payload_limit`, the patch is refused at once.
void MakePayloads(const std::vector<PayloadJob>& jobs, BuiltPatch& patch, const BuildOptions& options);
