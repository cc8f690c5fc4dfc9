#include "byte_writer.h"

#include <stdexcept>

namespace helpc {

void ByteWriter::u16(unsigned v) {
  u8(v & 0xFF);
  u8((v >> 8) & 0xFF);
}

void ByteWriter::u32(uint32_t v) {
  u16(v & 0xFFFF);
  u16(v >> 16);
}

void ByteWriter::cstr(const std::string& s) {
  bytes.insert(bytes.end(), s.begin(), s.end());
  u8(0);
}

void ByteWriter::patch_u16(size_t at, unsigned v) {
  bytes.at(at) = v & 0xFF;
  bytes.at(at + 1) = (v >> 8) & 0xFF;
}

void ByteWriter::patch_u32(size_t at, uint32_t v) {
  patch_u16(at, v & 0xFFFF);
  patch_u16(at + 2, v >> 16);
}

void put_compressed_ushort(ByteWriter& w, unsigned v) {
  if (v < 0x80)
    w.u8(v * 2);
  else if (v < 0x8000)
    w.u16(v * 2 + 1);
  else
    throw std::length_error("value too large for a compressed short");
}

void put_compressed_short(ByteWriter& w, int v) {
  if (v >= -64 && v < 64)
    w.u8(0x80 + v * 2);
  else if (v >= -16384 && v < 16384)
    w.u16(0x8000 + v * 2 + 1);
  else
    throw std::length_error("value too large for a compressed short");
}

void put_compressed_long(ByteWriter& w, int32_t v) {
  if (v >= -16384 && v < 16384)
    w.u16(static_cast<unsigned>((v + 16384) * 2));
  else
    w.u32(static_cast<uint32_t>((int64_t{v} + (int64_t{1} << 30)) * 2 + 1));
}

}  // namespace helpc
