#include "index_files.h"

#include <algorithm>
#include <utility>

#include "btree.h"
#include "context_hash.h"
#include "text/ascii.h"

namespace helpc {

namespace {

Bytes u32_bytes(uint32_t v) {
  ByteWriter w;
  w.u32(v);
  return w.bytes;
}

Bytes context_file(const HelpDocument& doc,
                   const std::vector<uint32_t>& offsets) {
  std::vector<std::pair<int32_t, uint32_t>> pairs;
  for (size_t t = 0; t < doc.topics.size(); ++t)
    pairs.emplace_back(context_hash(doc.topics[t].id), offsets[t]);
  std::sort(pairs.begin(), pairs.end());  // signed, as the viewer compares
  std::vector<BTreeEntry> entries;
  for (const auto& [hash, offset] : pairs)
    entries.push_back(
        {u32_bytes(static_cast<uint32_t>(hash)), u32_bytes(offset)});
  return write_btree({0x0002, 2048, "L4"}, entries).bytes;
}

void add_keyword_files(const HelpDocument& doc,
                       const std::vector<uint32_t>& offsets,
                       InternalFiles& files) {
  std::vector<std::pair<std::string, uint32_t>> keywords;
  for (size_t t = 0; t < doc.topics.size(); ++t)
    for (const std::string& k : doc.topics[t].keywords)
      keywords.emplace_back(k, offsets[t]);
  std::sort(keywords.begin(), keywords.end(), [](const auto& a, const auto& b) {
    return keyword_less(a.first, b.first);
  });
  std::vector<BTreeEntry> entries;
  ByteWriter data;
  for (const auto& [keyword, offset] : keywords) {
    ByteWriter key, value;
    key.cstr(keyword);
    value.u16(1);  // one topic per keyword
    value.u32(data.size());
    entries.push_back({key.bytes, value.bytes});
    data.u32(offset);
  }
  BTree tree = write_btree({0x0002, 2048, "i24"}, entries);
  ByteWriter map;
  map.u16(tree.leaf_starts.size());
  for (size_t page = 0; page < tree.leaf_starts.size(); ++page) {
    map.u32(tree.leaf_starts[page]);
    map.u16(page);
  }
  files["|KWBTREE"] = tree.bytes;
  files["|KWDATA"] = data.bytes;
  files["|KWMAP"] = map.bytes;
}

Bytes title_file(const HelpDocument& doc,
                 const std::vector<uint32_t>& offsets) {
  std::vector<BTreeEntry> entries;
  for (size_t t = 0; t < doc.topics.size(); ++t) {  // offsets ascend already
    ByteWriter title;
    title.cstr(doc.topics[t].title);
    entries.push_back({u32_bytes(offsets[t]), title.bytes});
  }
  return write_btree({0x0002, 2048, "Lz"}, entries).bytes;
}

Bytes map_file(const HelpDocument& doc, const std::vector<uint32_t>& offsets) {
  std::vector<std::pair<uint32_t, uint32_t>> pairs;
  for (size_t t = 0; t < doc.topics.size(); ++t)
    for (uint32_t number : doc.topics[t].map_numbers)
      pairs.emplace_back(number, offsets[t]);
  std::sort(pairs.begin(), pairs.end());
  ByteWriter w;
  w.u16(pairs.size());
  for (const auto& [number, offset] : pairs) {
    w.u32(number);
    w.u32(offset);
  }
  return w.bytes;
}

}  // namespace

bool keyword_less(const std::string& a, const std::string& b) {
  return text::less_ignoring_case(a, b);
}

void add_index_files(const HelpDocument& doc,
                     const std::vector<uint32_t>& offsets,
                     InternalFiles& files) {
  files["|CONTEXT"] = context_file(doc, offsets);
  add_keyword_files(doc, offsets, files);
  files["|TTLBTREE"] = title_file(doc, offsets);
  files["|CTXOMAP"] = map_file(doc, offsets);
}

}  // namespace helpc
