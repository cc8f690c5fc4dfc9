#include "help_file.h"

#include "btree.h"
#include "index_files.h"
#include "system_files.h"
#include "topic_file.h"

namespace helpc {

namespace {

constexpr unsigned FILE_HEADER_SIZE = 16;
constexpr unsigned INTERNAL_HEADER_SIZE = 9;

void put_internal(ByteWriter& w, const Bytes& data, uint8_t flags) {
  w.u32(INTERNAL_HEADER_SIZE + data.size());  // reserved, header included
  w.u32(data.size());
  w.u8(flags);
  w.append(data);
}

// std::map orders the names by plain byte comparison, as the directory
// must be ordered.
Bytes directory(const InternalFiles& files, uint32_t first_offset) {
  std::vector<BTreeEntry> entries;
  uint32_t offset = first_offset;
  for (const auto& [name, data] : files) {
    ByteWriter key, value;
    key.cstr(name);
    value.u32(offset);
    entries.push_back({key.bytes, value.bytes});
    offset += INTERNAL_HEADER_SIZE + data.size();
  }
  return write_btree({0x0402, 1024, "z4"}, entries).bytes;
}

}  // namespace

Bytes write_help_file(const HelpDocument& doc) {
  TopicFile topics = write_topic_file(doc);
  InternalFiles files;
  files["|TOPIC"] = topics.data;
  files["|SYSTEM"] = write_system_file(doc, topics.topic_offsets.front());
  files["|FONT"] = write_font_file();
  add_index_files(doc, topics.topic_offsets, files);

  // The directory's size does not depend on the offsets it holds.
  size_t directory_size = INTERNAL_HEADER_SIZE + directory(files, 0).size();
  Bytes dir = directory(files, FILE_HEADER_SIZE + directory_size);
  ByteWriter w;
  w.u32(0x00035F3F);
  w.u32(FILE_HEADER_SIZE);  // the directory follows the header
  w.u32(0xFFFFFFFF);        // no free blocks
  w.u32(0);                 // total size, patched below
  put_internal(w, dir, 4);
  for (const auto& [name, data] : files) put_internal(w, data, 0);
  w.patch_u32(12, w.size());
  return w.bytes;
}

}  // namespace helpc
