#include "system_files.h"

#include "text_record.h"

namespace helpc {

namespace {

enum SystemRecord : unsigned { kTitle = 1, kCopyright = 2, kContents = 3 };

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
  uint8_t family;      // 1 modern, 3 swiss
  unsigned face;
  uint8_t red, green, blue;
};

const char* const kFaces[] = {"Arial", "Courier New"};
constexpr unsigned kFaceSlot = 32;

const FontSpec kFonts[] = {
    {kBodyFont, 0, 20, 3, 0, 0, 0, 0},
    {kHeadingFont, 1, 28, 3, 0, 0, 0, 128},
    {kExampleFont, 0, 20, 1, 1, 0, 0, 0},
};

}  // namespace

Bytes write_system_file(const HelpDocument& doc, uint32_t contents_offset) {
  ByteWriter w;
  w.u16(0x036C);
  w.u16(21);  // minor version: the 3.1 format
  w.u16(1);
  w.u32(0);   // no build date keeps builds byte-identical
  w.u16(4);   // LZ77 blocks of 4 KiB
  put_record(w, kTitle, text(doc.title));
  if (!doc.copyright.empty()) put_record(w, kCopyright, text(doc.copyright));
  ByteWriter contents;
  contents.u32(contents_offset);
  put_record(w, kContents, contents.bytes);
  return w.bytes;
}

Bytes write_font_file() {
  constexpr unsigned faces = sizeof kFaces / sizeof kFaces[0];
  constexpr unsigned fonts = sizeof kFonts / sizeof kFonts[0];
  ByteWriter w;
  w.u16(faces);
  w.u16(fonts);
  w.u16(8);
  w.u16(8 + faces * kFaceSlot);
  for (const char* face : kFaces) {
    size_t start = w.size();
    w.cstr(face);
    w.pad_to(start + kFaceSlot);
  }
  for (const FontSpec& f : kFonts) {
    w.u8(f.attributes);
    w.u8(f.half_points);
    w.u8(f.family);
    w.u16(f.face);
    w.u8(f.red); w.u8(f.green); w.u8(f.blue);
    w.u8(255); w.u8(255); w.u8(255);  // background
  }
  return w.bytes;
}

}  // namespace helpc
