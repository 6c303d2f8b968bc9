#include "files/reparse_point.h"

namespace {

// IsReparseTagNameSurrogate: the tag's owner declares that the entry stands
// for another name.
constexpr uint32_t kNameSurrogateBit = 0x20000000;

}  // namespace

bool CountsAsLink(uint32_t attributes, ReparseTag tag) {
  if ((attributes & kAttributeReparsePoint) == 0) return false;
  return !tag.known || tag.value == 0 || (tag.value & kNameSurrogateBit) != 0;
}
