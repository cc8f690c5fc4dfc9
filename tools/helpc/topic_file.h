// Lays out |TOPIC: topic headers and text records chained in 4 KiB blocks.
#ifndef WHIRLO_TOOLS_HELPC_TOPIC_FILE_H
#define WHIRLO_TOOLS_HELPC_TOPIC_FILE_H

#include <cstdint>
#include <vector>

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

constexpr unsigned TOPIC_BLOCK_SIZE = 4096;
constexpr unsigned BLOCK_HEADER_SIZE = 12;
// Literal-only LZ77 spends a flag byte on every 8 data bytes, so a block's
// 4084 stored bytes carry 3630 bytes of records.
constexpr unsigned BLOCK_DATA_SIZE = 3630;

struct TopicFile {
  Bytes data;                           // |TOPIC without its file header
  std::vector<uint32_t> topic_offsets;  // TOPICOFFSET of each topic
};

TopicFile write_topic_file(const HelpDocument& doc);

// A block's records as the viewer decompresses them, framed as LZ77
// literals; `data` is padded to BLOCK_DATA_SIZE.
Bytes literal_lz77(const Bytes& data);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_TOPIC_FILE_H
