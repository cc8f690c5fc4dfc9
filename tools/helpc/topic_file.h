// Lays out |TOPIC: topic headers and text records chained in 4 KiB blocks.
#ifndef HELPC_TOPIC_FILE_H_
#define HELPC_TOPIC_FILE_H_

#include <cstdint>
#include <vector>

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

constexpr unsigned kTopicBlockSize = 4096;
constexpr unsigned kBlockHeaderSize = 12;
// Literal-only LZ77 spends a flag byte on every 8 data bytes, so a block's
// 4084 stored bytes carry 3630 bytes of records.
constexpr unsigned kBlockDataSize = 3630;

struct TopicFile {
  Bytes data;                          // |TOPIC without its file header
  std::vector<uint32_t> topic_offsets;  // TOPICOFFSET of each topic
};

TopicFile write_topic_file(const HelpDocument& doc);

// A block's records as the viewer decompresses them, framed as LZ77
// literals; `data` is padded to kBlockDataSize.
Bytes literal_lz77(const Bytes& data);

}  // namespace helpc

#endif  // HELPC_TOPIC_FILE_H_
