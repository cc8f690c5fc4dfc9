#include "system_files.h"

#include "text_record.h"

namespace helpc {

namespace {

enum SystemRecord : unsigned { TITLE = 1, COPYRIGHT = 2, CONTENTS = 3 };

void put_record(ByteWriter& w, unsigned type, const Bytes& data) {
  w.u16(type);
  w.u16(data.size());
  w.append(data);
}

Bytes text(const std::string& s) {
  ByteWriter w;
  w.cstr(s);
  return w.bytes;
}

struct FontSpec {
  FontIndex index;
  uint8_t attributes;  // 1 bold
  uint8_t half_points;
  uint8_t family;  // 1 modern, 3 swiss
  unsigned face;
  uint8_t red, green, blue;
};

const char* const FACES[] = {"Arial", "Courier New"};
constexpr unsigned FACE_SLOT = 32;

const FontSpec FONTS[] = {
    {BODY_FONT, 0, 20, 3, 0, 0, 0, 0},
    {HEADING_FONT, 1, 28, 3, 0, 0, 0, 128},
    {EXAMPLE_FONT, 0, 20, 1, 1, 0, 0, 0},
};

}  // namespace

Bytes write_system_file(const HelpDocument& doc, uint32_t contents_offset) {
  ByteWriter w;
  w.u16(0x036C);
  w.u16(21);  // minor version: the 3.1 format
  w.u16(1);
  w.u32(0);  // no build date keeps builds byte-identical
  w.u16(4);  // LZ77 blocks of 4 KiB
  put_record(w, TITLE, text(doc.title));
  if (!doc.copyright.empty()) put_record(w, COPYRIGHT, text(doc.copyright));
  ByteWriter contents;
  contents.u32(contents_offset);
  put_record(w, CONTENTS, contents.bytes);
  return w.bytes;
}

Bytes write_font_file() {
  constexpr unsigned faces = sizeof FACES / sizeof FACES[0];
  constexpr unsigned fonts = sizeof FONTS / sizeof FONTS[0];
  ByteWriter w;
  w.u16(faces);
  w.u16(fonts);
  w.u16(8);
  w.u16(8 + faces * FACE_SLOT);
  for (const char* face : FACES) {
    size_t start = w.size();
    w.cstr(face);
    w.pad_to(start + FACE_SLOT);
  }
  for (const FontSpec& f : FONTS) {
    w.u8(f.attributes);
    w.u8(f.half_points);
    w.u8(f.family);
    w.u16(f.face);
    w.u8(f.red);
    w.u8(f.green);
    w.u8(f.blue);
    w.u8(255);
    w.u8(255);
    w.u8(255);  // background
  }
  return w.bytes;
}

}  // namespace helpc
