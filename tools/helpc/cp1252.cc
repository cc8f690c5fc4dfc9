#include "cp1252.h"

#include "help_document.h"

namespace helpc {

namespace {

// Code points of cp1252's 0x80-0x9F row that the text may use.
struct Extra {
  unsigned code_point;
  char byte;
};
const Extra EXTRAS[] = {
    {0x20AC, '\x80'}, {0x2026, '\x85'}, {0x2018, '\x91'}, {0x2019, '\x92'},
    {0x201C, '\x93'}, {0x201D, '\x94'}, {0x2022, '\x95'}, {0x2013, '\x96'},
    {0x2014, '\x97'}, {0x2122, '\x99'},
};

unsigned decode_one(const std::string& s, size_t& i) {
  unsigned char lead = s[i++];
  if (lead < 0x80) return lead;
  int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (more < 0 || i + more > s.size()) throw SourceError("malformed UTF-8");
  unsigned cp = lead & (0x3F >> more);
  for (int k = 0; k < more; ++k) {
    unsigned char c = s[i++];
    if ((c & 0xC0) != 0x80) throw SourceError("malformed UTF-8");
    cp = cp << 6 | (c & 0x3F);
  }
  return cp;
}

char to_byte(unsigned cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (const Extra& e : EXTRAS)
    if (e.code_point == cp) return e.byte;
  throw SourceError("character U+" + std::to_string(cp) +
                    " (decimal) has no cp1252 form");
}

}  // namespace

std::string utf8_to_cp1252(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) out += to_byte(decode_one(utf8, i));
  return out;
}

}  // namespace helpc
