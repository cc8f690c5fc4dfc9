// Encodes one paragraph as the LinkData of a text record (type 0x20).
#ifndef WHIRLO_TOOLS_HELPC_TEXT_RECORD_H
#define WHIRLO_TOOLS_HELPC_TEXT_RECORD_H

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

// Indices into |FONT's descriptors.
enum FontIndex : unsigned { BODY_FONT = 0, HEADING_FONT = 1, EXAMPLE_FONT = 2 };

// Paragraph spacing is given in half-points.
constexpr int UNITS_PER_POINT = 2;

struct LinkData {
  Bytes data1;              // after the 21-byte link header
  Bytes data2;              // NUL-terminated strings, stored uncompressed
  unsigned characters = 0;  // what the record adds to a TOPICOFFSET
};

LinkData encode_paragraph(const Paragraph& p);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_TEXT_RECORD_H
