#pragma once
// Reading and rewriting the resource section of a Windows executable (PE32 or
// PE32+), so that the tool can add the patch's "DATA" resources to a stub
// patcher without a Windows resource compiler.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/byte_span.h"

// A resource type or name: a 16-bit number, or a string of 16-bit units.
struct ResourceName {
  bool is_id = true;
  uint16_t id = 0;
  std::u16string text;
};

struct ResourceEntry {
  ResourceName type;
  ResourceName name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  Bytes data;
};

// Every resource of the executable image in `image` (a file's bytes), in the
// order of its resource tree. Raises AuthoringError for a file that is not a
// well-formed PE image or whose resource tree points outside it.
std::vector<ResourceEntry> ReadPeResources(const Bytes& image);

// The image with `resources` as its whole resource tree, written as a new
// last section (or in place of the resource section when that is the last
// one), with the data directory, the image size, the initialised-data size
// and the header checksum brought up to date. The result depends only on the
// inputs. Raises AuthoringError when the image has data behind its last
// section (which would be lost) or no room for another section header.
Bytes WritePeResources(const Bytes& image, const std::vector<ResourceEntry>& resources);

// The image with one "DATA" resource, language 1033, per (id, bytes) pair
// added to its own resources; an existing "DATA" resource of the same id is
// replaced.
Bytes AddDataResources(const Bytes& image, const std::vector<std::pair<uint16_t, Bytes>>& data);
