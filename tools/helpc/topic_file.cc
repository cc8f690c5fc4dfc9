#include "topic_file.h"

#include <stdexcept>

#include "text_record.h"

namespace helpc {

namespace {

constexpr uint32_t NIL = 0xFFFFFFFF;
constexpr unsigned LINK_HEADER_SIZE = 21;
enum RecordType : uint8_t { TOPIC_HEADER = 0x02, TEXT = 0x20 };

struct Record {
  uint8_t type;
  LinkData link;
  size_t topic;
  unsigned block = 0, offset = 0;
  uint32_t pos = 0;  // TOPICPOS
  size_t size() const {
    return LINK_HEADER_SIZE + link.data1.size() + link.data2.size();
  }
};

std::vector<Record> make_records(const HelpDocument& doc) {
  std::vector<Record> records;
  for (size_t t = 0; t < doc.topics.size(); ++t) {
    Record header{TOPIC_HEADER, {}, t};
    header.link.data1.resize(28);  // filled in once positions are known
    ByteWriter title;
    title.cstr(doc.topics[t].title);
    header.link.data2 = title.bytes;
    records.push_back(header);
    for (const Paragraph& p : doc.topics[t].paragraphs)
      records.push_back({TEXT, encode_paragraph(p), t});
  }
  return records;
}

// Places every record wholly inside one block; returns the block count.
unsigned place(std::vector<Record>& records,
               std::vector<uint32_t>& topic_offsets) {
  unsigned block = 0, offset = 0, characters = 0;
  for (Record& r : records) {
    if (r.size() > BLOCK_DATA_SIZE)
      throw SourceError("a paragraph is too long");
    if (offset + r.size() > BLOCK_DATA_SIZE) {
      ++block;
      offset = characters = 0;
    }
    r.block = block;
    r.offset = offset;
    r.pos = BLOCK_HEADER_SIZE + block * 0x4000 + offset;
    offset += r.size();
    if (r.type == TOPIC_HEADER)
      topic_offsets.push_back(block * 0x8000 + characters);
    characters += r.link.characters;
  }
  return block + 1;
}

void fill_topic_headers(std::vector<Record>& records) {
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].type != TOPIC_HEADER) continue;
    uint32_t topic_size = 0, next_topic = NIL;
    size_t j = i;
    for (; j < records.size() && records[j].topic == records[i].topic; ++j)
      topic_size += records[j].size();
    if (j < records.size()) next_topic = records[j].pos;
    ByteWriter w;
    w.u32(topic_size);
    w.u32(NIL);  // browse back
    w.u32(NIL);  // browse forward
    w.u32(records[i].topic);
    w.u32(NIL);  // no non-scrolling region
    w.u32(i + 1 < records.size() && records[i + 1].topic == records[i].topic
              ? records[i + 1].pos
              : NIL);
    w.u32(next_topic);
    records[i].link.data1 = w.bytes;
  }
}

void put_record(ByteWriter& w, const std::vector<Record>& records, size_t i) {
  const Record& r = records[i];
  w.u32(r.size());
  w.u32(r.link.data2.size());
  w.u32(i > 0 ? records[i - 1].pos : NIL);
  w.u32(i + 1 < records.size() ? records[i + 1].pos : NIL);
  w.u32(LINK_HEADER_SIZE + r.link.data1.size());
  w.u8(r.type);
  w.append(r.link.data1);
  w.append(r.link.data2);
}

Bytes block_header(const std::vector<Record>& records, unsigned block) {
  uint32_t last_link = NIL, first_link = NIL, last_header = NIL;
  for (const Record& r : records) {
    if (r.block < block) last_link = r.pos;
    if (r.block == block && first_link == NIL) first_link = r.pos;
    if (r.block <= block && r.type == TOPIC_HEADER) last_header = r.pos;
  }
  ByteWriter w;
  w.u32(last_link);
  w.u32(first_link);
  w.u32(last_header);
  return w.bytes;
}

}  // namespace

Bytes literal_lz77(const Bytes& data) {
  Bytes padded = data;
  padded.resize(BLOCK_DATA_SIZE, 0);
  Bytes out;
  for (size_t i = 0; i < padded.size(); ++i) {
    if (i % 8 == 0) out.push_back(0x00);  // eight literals follow
    out.push_back(padded[i]);
  }
  return out;
}

TopicFile write_topic_file(const HelpDocument& doc) {
  TopicFile out;
  std::vector<Record> records = make_records(doc);
  unsigned blocks = place(records, out.topic_offsets);
  fill_topic_headers(records);
  std::vector<ByteWriter> block_data(blocks);
  for (size_t i = 0; i < records.size(); ++i)
    put_record(block_data[records[i].block], records, i);
  ByteWriter w;
  for (unsigned b = 0; b < blocks; ++b) {
    w.append(block_header(records, b));
    w.append(literal_lz77(block_data[b].bytes));
  }
  if (w.size() != blocks * TOPIC_BLOCK_SIZE)
    throw std::logic_error("block framing");
  out.data = w.bytes;
  return out;
}

}  // namespace helpc
