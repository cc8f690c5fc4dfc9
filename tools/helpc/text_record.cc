#include "text_record.h"

#include "context_hash.h"

namespace helpc {

namespace {

enum Command : unsigned {
  FONT = 0x80,
  LINE_BREAK,  // 0x81, 0x82, 0x83 in turn
  PARAGRAPH_END,
  TAB,
  HOTSPOT_END = 0x89,
  JUMP = 0xE3,
  END = 0xFF
};

enum ParagraphBit : unsigned {
  SPACE_ABOVE = 0x0002,
  SPACE_BELOW = 0x0004,
  LEFT_INDENT = 0x0010,
  FIRST_INDENT = 0x0040,
  TAB_STOPS = 0x0200
};

// The viewer takes one string, then one command, in turn; so every
// command closes the text gathered before it.
class CommandStream {
 public:
  void text(const std::string& s) {
    pending_ += s;
    characters_ += s.size();
  }
  void command(std::initializer_list<uint8_t> bytes);
  void font(unsigned index);
  void jump(const std::string& target);
  Bytes strings() const { return strings_.bytes; }
  Bytes commands() const { return commands_.bytes; }
  unsigned characters() const { return characters_; }

 private:
  ByteWriter strings_, commands_;
  std::string pending_;
  unsigned characters_ = 0;
  int font_ = -1;
};

void CommandStream::command(std::initializer_list<uint8_t> bytes) {
  strings_.cstr(pending_);
  pending_.clear();
  for (uint8_t b : bytes) commands_.u8(b);
  unsigned first = *bytes.begin();
  if (first == LINE_BREAK || first == PARAGRAPH_END || first == TAB)
    ++characters_;
}

void CommandStream::font(unsigned index) {
  if (font_ == static_cast<int>(index)) return;
  font_ = index;
  command({FONT, static_cast<uint8_t>(index), 0});
}

void CommandStream::jump(const std::string& target) {
  uint32_t h = static_cast<uint32_t>(context_hash(target));
  command({JUMP, static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8),
           static_cast<uint8_t>(h >> 16), static_cast<uint8_t>(h >> 24)});
}

unsigned font_of(const Paragraph& p, const Span& s) {
  if (p.kind == Paragraph::HEADING) return HEADING_FONT;
  return s.code ? EXAMPLE_FONT : BODY_FONT;
}

void put_span(CommandStream& out, const Paragraph& p, const Span& s) {
  out.font(font_of(p, s));
  switch (s.kind) {
    case Span::PLAIN: out.text(s.text); break;
    case Span::LINE_BREAK: out.command({LINE_BREAK}); break;
    case Span::TAB: out.command({TAB}); break;
    case Span::JUMP:
      out.jump(s.target);
      out.text(s.text);
      out.command({HOTSPOT_END});
      break;
  }
}

// Hanging indents line wrapped list items and rows up under their last
// tab stop.
void put_layout(ByteWriter& w, const Paragraph& p) {
  int hang = p.tab_stops.empty() ? 0 : p.tab_stops.back() * UNITS_PER_POINT;
  int below = (p.kind == Paragraph::HEADING ? 8
               : p.kind == Paragraph::ROW   ? 2
                                            : 5);
  unsigned bits = SPACE_BELOW;
  if (p.kind == Paragraph::HEADING) bits |= SPACE_ABOVE;
  if (p.kind == Paragraph::EXAMPLE || hang) bits |= LEFT_INDENT;
  if (hang) bits |= FIRST_INDENT | TAB_STOPS;
  w.u16(bits);
  if (bits & SPACE_ABOVE) put_compressed_short(w, 3 * UNITS_PER_POINT);
  put_compressed_short(w, below * UNITS_PER_POINT);
  if (bits & LEFT_INDENT)
    put_compressed_short(w, hang ? hang : 12 * UNITS_PER_POINT);
  if (bits & FIRST_INDENT) put_compressed_short(w, -hang);
  if (!(bits & TAB_STOPS)) return;
  put_compressed_short(w, static_cast<int>(p.tab_stops.size()));
  for (int stop : p.tab_stops) put_compressed_ushort(w, stop * UNITS_PER_POINT);
}

}  // namespace

LinkData encode_paragraph(const Paragraph& p) {
  CommandStream stream;
  for (const Span& s : p.spans) put_span(stream, p, s);
  stream.command({PARAGRAPH_END});
  stream.command({END});
  LinkData out;
  out.data2 = stream.strings();
  out.characters = stream.characters();
  ByteWriter d1;
  put_compressed_long(d1, static_cast<int32_t>(out.data2.size()));
  put_compressed_ushort(d1, out.characters);
  d1.u8(0x00);
  d1.u8(0x80);
  d1.u16(0);  // paragraph id
  put_layout(d1, p);
  d1.append(stream.commands());
  out.data1 = d1.bytes;
  return out;
}

}  // namespace helpc
