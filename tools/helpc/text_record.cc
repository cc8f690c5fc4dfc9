#include "text_record.h"

#include "context_hash.h"

namespace helpc {

namespace {

enum Command : unsigned {
  kFont = 0x80, kLineBreak = 0x81, kParagraphEnd = 0x82, kTab = 0x83,
  kHotspotEnd = 0x89, kJump = 0xE3, kEnd = 0xFF,
};

enum ParagraphBit : unsigned {
  kSpaceAbove = 0x0002, kSpaceBelow = 0x0004, kLeftIndent = 0x0010,
  kFirstIndent = 0x0040, kTabStops = 0x0200,
};

// The viewer takes one string, then one command, in turn; so every
// command closes the text gathered before it.
class CommandStream {
 public:
  void text(const std::string& s) { pending_ += s; characters_ += s.size(); }
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
  if (first == kLineBreak || first == kParagraphEnd || first == kTab) ++characters_;
}

void CommandStream::font(unsigned index) {
  if (font_ == static_cast<int>(index)) return;
  font_ = index;
  command({kFont, static_cast<uint8_t>(index), 0});
}

void CommandStream::jump(const std::string& target) {
  uint32_t h = static_cast<uint32_t>(context_hash(target));
  command({kJump, static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8),
           static_cast<uint8_t>(h >> 16), static_cast<uint8_t>(h >> 24)});
}

unsigned font_of(const Paragraph& p, const Span& s) {
  if (p.kind == Paragraph::heading) return kHeadingFont;
  return s.code ? kExampleFont : kBodyFont;
}

void put_span(CommandStream& out, const Paragraph& p, const Span& s) {
  out.font(font_of(p, s));
  switch (s.kind) {
    case Span::plain: out.text(s.text); break;
    case Span::line_break: out.command({kLineBreak}); break;
    case Span::tab: out.command({kTab}); break;
    case Span::jump:
      out.jump(s.target);
      out.text(s.text);
      out.command({kHotspotEnd});
      break;
  }
}

// Hanging indents line wrapped list items and rows up under their last
// tab stop.
void put_layout(ByteWriter& w, const Paragraph& p) {
  int hang = p.tab_stops.empty() ? 0 : p.tab_stops.back() * kUnitsPerPoint;
  int below = (p.kind == Paragraph::heading ? 8 : p.kind == Paragraph::row ? 2 : 5);
  unsigned bits = kSpaceBelow;
  if (p.kind == Paragraph::heading) bits |= kSpaceAbove;
  if (p.kind == Paragraph::example || hang) bits |= kLeftIndent;
  if (hang) bits |= kFirstIndent | kTabStops;
  w.u16(bits);
  if (bits & kSpaceAbove) put_compressed_short(w, 3 * kUnitsPerPoint);
  put_compressed_short(w, below * kUnitsPerPoint);
  if (bits & kLeftIndent) put_compressed_short(w, hang ? hang : 12 * kUnitsPerPoint);
  if (bits & kFirstIndent) put_compressed_short(w, -hang);
  if (!(bits & kTabStops)) return;
  put_compressed_short(w, static_cast<int>(p.tab_stops.size()));
  for (int stop : p.tab_stops) put_compressed_ushort(w, stop * kUnitsPerPoint);
}

}  // namespace

LinkData encode_paragraph(const Paragraph& p) {
  CommandStream stream;
  for (const Span& s : p.spans) put_span(stream, p, s);
  stream.command({kParagraphEnd});
  stream.command({kEnd});
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
