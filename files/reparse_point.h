#pragma once
// Which reparse points redirect what is done through them. Windows sets
// FILE_ATTRIBUTE_REPARSE_POINT on links (symbolic links, junctions, mount
// points, WSL links) and also on files that filter drivers keep for
// themselves and present under their own name with their own bytes: cloud
// placeholders (OneDrive's Files On-Demand), deduplicated and
// system-compressed files, app execution aliases. Only the first kind takes
// a write, rename or removal elsewhere; Windows marks their tags as name
// surrogates.
#include <cstdint>

constexpr uint32_t kAttributeDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT

// A reparse tag as its directory entry gives it, or none where it could not
// be read.
struct ReparseTag {
  bool known = false;
  uint32_t value = 0;
};

// Whether a file or folder with these attributes counts as a link: a reparse
// point whose tag is a name surrogate, or one whose tag is unknown or 0 (no
// filter of ours names it, so it is taken for the worst). `tag` is looked at
// only when the attributes carry the reparse point.
bool CountsAsLink(uint32_t attributes, ReparseTag tag);
