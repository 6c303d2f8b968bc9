#pragma once
// Parses a document held in a data resource. The resource's bytes carry no
// NUL of their own, so they are copied into a terminated text first; the
// documents are small. The parser's own error status is never consulted:
// callers judge a document only by the elements they find.
#include <cstddef>
#include <string>

#include "tinyxml.h"

inline void ParseDocument(TiXmlDocument& document, const char* data, size_t length) {
  const std::string text(data, length);
  document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
}
