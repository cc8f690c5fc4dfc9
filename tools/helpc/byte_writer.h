// Little-endian byte buffer for the help file's binary structures.
#ifndef WHIRLO_TOOLS_HELPC_BYTE_WRITER_H
#define WHIRLO_TOOLS_HELPC_BYTE_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace helpc {

using Bytes = std::vector<uint8_t>;

struct ByteWriter {
  Bytes bytes;

  void u8(unsigned v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void u16(unsigned v);
  void u32(uint32_t v);
  void cstr(const std::string& s);  // with its terminating NUL
  void append(const Bytes& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void pad_to(size_t size) { bytes.resize(size, 0); }
  void patch_u16(size_t at, unsigned v);
  void patch_u32(size_t at, uint32_t v);
  size_t size() const { return bytes.size(); }
};

// The variable-length integers of text records: a 1- or 2-byte unsigned
// short and a 2- or 4-byte signed long, told apart by the low bit.
void put_compressed_ushort(ByteWriter& w, unsigned v);
void put_compressed_short(ByteWriter& w, int v);
void put_compressed_long(ByteWriter& w, int32_t v);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_BYTE_WRITER_H
