#pragma once
// Parses a document held in a data resource. The resource's bytes carry no
// NUL of their own, so they are copied into a terminated text first; the
// documents are small. The parser steps over a multi-byte character by the
// length its lead byte announces, which can carry it past a single NUL at
// the end of a cut document: the text therefore ends in a run of NULs longer
// than any such step. The parser's own error status is never consulted:
// callers judge a document only by the elements they find.
#include <cstddef>
#include <string>

#include "tinyxml.h"

inline void ParseDocument(TiXmlDocument& document, const char* data, size_t length) {
  constexpr size_t kEndPadding = 8;
  std::string text(data, length);
  text.append(kEndPadding, '\0');
  document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
}
