// Encodes one paragraph as the LinkData of a text record (type 0x20).
#ifndef HELPC_TEXT_RECORD_H_
#define HELPC_TEXT_RECORD_H_

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

// Indices into |FONT's descriptors.
enum FontIndex : unsigned { kBodyFont = 0, kHeadingFont = 1, kExampleFont = 2 };

// Paragraph spacing is given in half-points.
constexpr int kUnitsPerPoint = 2;

struct LinkData {
  Bytes data1;            // after the 21-byte link header
  Bytes data2;            // NUL-terminated strings, stored uncompressed
  unsigned characters = 0;  // what the record adds to a TOPICOFFSET
};

LinkData encode_paragraph(const Paragraph& p);

}  // namespace helpc

#endif  // HELPC_TEXT_RECORD_H_
