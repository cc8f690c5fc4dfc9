#include "hlp_reader.h"

#include <cstring>
#include <functional>
#include <stdexcept>

#include <strings.h>

namespace hlp {

namespace {

void require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

struct Cursor {
  const Bytes& b;
  size_t at = 0;
  size_t end;
  Cursor(const Bytes& bytes, size_t from = 0)
      : b(bytes), at(from), end(bytes.size()) {}
  Cursor(const Bytes& bytes, size_t from, size_t to)
      : b(bytes), at(from), end(to) {}

  unsigned u8() {
    require(at < end, "read past the end");
    return b[at++];
  }
  unsigned u16() {
    unsigned lo = u8();
    return lo | u8() << 8;
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | uint32_t{u16()} << 16;
  }
  std::string cstr() {
    std::string s;
    for (unsigned c; (c = u8()) != 0;) s += static_cast<char>(c);
    return s;
  }
  Bytes take(size_t n) {
    require(at + n <= end, "read past the end");
    Bytes out(b.begin() + at, b.begin() + at + n);
    at += n;
    return out;
  }
  bool done() const { return at >= end; }
};

unsigned compressed_ushort(Cursor& c) {
  unsigned first = c.u8();
  if (!(first & 1)) return first / 2;
  return (first | c.u8() << 8) / 2;
}

int compressed_short(Cursor& c) {
  unsigned first = c.u8();
  if (!(first & 1)) return (static_cast<int>(first) - 0x80) / 2;
  return (static_cast<int>(first | c.u8() << 8) - 0x8000) / 2;
}

int32_t compressed_long(Cursor& c) {
  unsigned low = c.u16();
  if (!(low & 1)) return (static_cast<int32_t>(low) - 0x8000) / 2;
  uint32_t all = low | uint32_t{c.u16()} << 16;
  return static_cast<int32_t>((int64_t{all} - 0x80000000LL) / 2);
}

// --- B+ trees ---------------------------------------------------------

using EntrySize = std::function<size_t(const uint8_t*)>;
using Less = std::function<bool(const Bytes&, const Bytes&)>;
using Entries = std::vector<std::pair<Bytes, Bytes>>;

struct Tree {
  unsigned page_size, root, levels, pages;
  uint32_t count;
  const Bytes* data;
  size_t first_page;
};

Tree tree_header(const Bytes& data) {
  Cursor c(data);
  require(c.u16() == 0x293B, "B+ tree magic");
  c.u16();
  Tree t;
  t.page_size = c.u16();
  c.take(16);
  require(c.u16() == 0, "B+ tree must-be-zero");
  c.u16();
  t.root = c.u16();
  require(c.u16() == 0xFFFF, "B+ tree must-be-minus-one");
  t.pages = c.u16();
  t.levels = c.u16();
  t.count = c.u32();
  t.data = &data;
  t.first_page = 38;
  require(38 + t.pages * t.page_size == data.size(), "B+ tree size");
  require(t.root < t.pages && t.levels >= 1, "B+ tree root");
  return t;
}

size_t page_at(const Tree& t, unsigned page) {
  require(page < t.pages, "B+ tree page number");
  return t.first_page + page * t.page_size;
}

// Descends as the viewer does: the last child whose key is not above.
unsigned descend(const Tree& t, const Bytes& key, const EntrySize& key_size,
                 const Less& less) {
  unsigned page = t.root;
  for (unsigned level = t.levels; level > 1; --level) {
    size_t at = page_at(t, page);
    Cursor c(*t.data, at + 2);
    unsigned entries = c.u16();
    unsigned child = c.u16();
    for (unsigned i = 0; i < entries; ++i) {
      size_t n = key_size(t.data->data() + c.at);
      Bytes k = c.take(n);
      unsigned next = c.u16();
      if (less(key, k)) break;
      child = next;
    }
    page = child;
  }
  return page;
}

Entries leaf_entries(const Tree& t, unsigned page, const EntrySize& key_size,
                     const EntrySize& value_size) {
  size_t at = page_at(t, page);
  Cursor c(*t.data, at, at + t.page_size);
  unsigned unused = c.u16(), entries = c.u16();
  c.u16();
  c.u16();
  Entries out;
  for (unsigned i = 0; i < entries; ++i) {
    Bytes k = c.take(key_size(t.data->data() + c.at));
    Bytes v = c.take(value_size(t.data->data() + c.at));
    out.emplace_back(k, v);
  }
  require(unused == at + t.page_size - c.at, "B+ tree unused bytes");
  return out;
}

// Every entry in leaf order; each must be found again from the root.
Entries read_tree(const Bytes& data, const EntrySize& key_size,
                  const EntrySize& value_size, const Less& less,
                  unsigned* levels) {
  Tree t = tree_header(data);
  unsigned page =
      descend(t, {}, key_size, [](const Bytes&, const Bytes&) { return true; });
  Entries all;
  unsigned previous = 0xFFFF;
  while (page != 0xFFFF) {
    Cursor links(data, page_at(t, page) + 4);
    require(links.u16() == previous, "B+ tree previous-page link");
    Entries e = leaf_entries(t, page, key_size, value_size);
    for (const auto& entry : e) {
      require(descend(t, entry.first, key_size, less) == page,
              "B+ tree index finds no entry");
      require(all.empty() || less(all.back().first, entry.first),
              "B+ tree order");
      all.push_back(entry);
    }
    previous = page;
    page = links.u16();
  }
  require(all.size() == t.count, "B+ tree entry count");
  if (levels) *levels = t.levels;
  return all;
}

size_t cstr_size(const uint8_t* p) {
  return std::strlen(reinterpret_cast<const char*>(p)) + 1;
}
EntrySize fixed(size_t n) {
  return [n](const uint8_t*) { return n; };
}

uint32_t le32(const Bytes& b, size_t at = 0) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
         uint32_t{b.at(at + 3)} << 24;
}

std::string as_string(const Bytes& b) {
  return std::string(b.begin(), b.end() - (b.empty() ? 0 : 1));
}

// --- internal files ---------------------------------------------------

void read_directory(const Bytes& bytes, File& f) {
  Cursor header(bytes);
  require(header.u32() == 0x00035F3F, "file magic");
  uint32_t directory = header.u32();
  header.u32();
  require(header.u32() == bytes.size(), "file size in header");
  auto internal = [&](uint32_t at, unsigned flags) {
    Cursor c(bytes, at);
    uint32_t reserved = c.u32(), used = c.u32();
    require(c.u8() == flags, "internal file flags");
    require(reserved >= used + 9 && at + reserved <= bytes.size(),
            "internal file size");
    return c.take(used);
  };
  Bytes dir = internal(directory, 4);
  Less by_strcmp = [](const Bytes& a, const Bytes& b) {
    return std::strcmp(reinterpret_cast<const char*>(a.data()),
                       reinterpret_cast<const char*>(b.data())) < 0;
  };
  for (const auto& [name, offset] :
       read_tree(dir, cstr_size, fixed(4), by_strcmp, nullptr))
    f.internal[as_string(name)] = internal(le32(offset), 0);
}

const Bytes& need(const File& f, const std::string& name) {
  auto it = f.internal.find(name);
  require(it != f.internal.end(), "no internal file " + name);
  return it->second;
}

void read_system(File& f) {
  const Bytes& s = need(f, "|SYSTEM");
  Cursor c(s);
  require(c.u16() == 0x036C && c.u16() == 21 && c.u16() == 1,
          "|SYSTEM version");
  c.u32();
  f.system_flags = c.u16();
  while (!c.done()) {
    unsigned type = c.u16(), size = c.u16();
    Bytes data = c.take(size);
    if (type == 1) f.title = as_string(data);
    if (type == 3) f.contents = le32(data);
  }
}

// --- |TOPIC -------------------------------------------------------------

Bytes lz77(const Bytes& in, size_t from, size_t to) {
  Bytes out;
  for (size_t i = from; i < to;) {
    unsigned mask = in[i++];
    for (int bit = 0; bit < 8 && i < to; ++bit, mask >>= 1) {
      if (!(mask & 1)) {
        out.push_back(in[i++]);
        continue;
      }
      require(i + 2 <= to, "LZ77 reference cut off");
      unsigned code = in[i] | in[i + 1] << 8;
      i += 2;
      size_t distance = (code & 0xFFF) + 1;
      require(distance <= out.size(), "LZ77 reference before the start");
      for (unsigned n = 3 + (code >> 12); n > 0; --n)
        out.push_back(out[out.size() - distance]);
    }
  }
  return out;
}

Paragraph read_paragraph(const Bytes& block, size_t at, uint32_t data_len1,
                         uint32_t data_len2, unsigned* characters) {
  Cursor format(block, at + 21, at + data_len1);
  Cursor text(block, at + data_len1, at + data_len1 + data_len2);
  require(compressed_long(format) == static_cast<int32_t>(data_len2),
          "TopicSize");
  unsigned length = compressed_ushort(format);
  format.take(4);
  unsigned bits = format.u16();
  require((bits & ~0x0A7Fu) == 0, "unexpected paragraph bits");
  for (unsigned bit : {0x0002u, 0x0004u, 0x0008u, 0x0010u, 0x0020u, 0x0040u})
    if (bits & bit) compressed_short(format);
  if (bits & 0x0200)
    for (int n = compressed_short(format); n > 0; --n)
      if (compressed_ushort(format) & 0x4000) compressed_ushort(format);
  Paragraph p;
  unsigned counted = 0;
  bool in_jump = false;
  for (;;) {
    std::string s = text.cstr();
    p.text += s;
    counted += s.size();
    if (in_jump) p.jumps.back().label += s;
    unsigned command = format.u8();
    if (command == 0xFF) break;
    switch (command) {
      case 0x80: p.fonts.push_back(format.u16()); break;
      case 0x81:
        p.text += '\n';
        ++counted;
        break;
      case 0x82: ++counted; break;
      case 0x83:
        p.text += '\t';
        ++counted;
        break;
      case 0x89:
        require(in_jump, "hotspot end outside a jump");
        in_jump = false;
        break;
      case 0xE3:
        p.jumps.push_back({static_cast<int32_t>(format.u32()), ""});
        in_jump = true;
        break;
      default: throw std::runtime_error("unknown text command");
    }
  }
  require(format.done() && text.done(), "text record has bytes left over");
  require(counted == length, "TopicLength differs from the characters");
  *characters = length;
  return p;
}

void read_topics(File& f) {
  const Bytes& data = need(f, "|TOPIC");
  require(data.size() % 4096 == 0, "|TOPIC is not whole blocks");
  f.topic_blocks = data.size() / 4096;
  require(f.system_flags == 4, "expected LZ77 4 KiB blocks");
  std::vector<Bytes> blocks;
  for (unsigned b = 0; b < f.topic_blocks; ++b) {
    blocks.push_back(lz77(data, b * 4096 + 12, (b + 1) * 4096));
    require(blocks.back().size() <= 0x4000, "block decompresses beyond 16 KiB");
  }
  uint32_t pos = 12, previous = 0xFFFFFFFF;
  unsigned last_block = 0, characters = 0;
  while (pos != 0xFFFFFFFF) {
    unsigned b = (pos - 12) >> 14, at = (pos - 12) & 0x3FFF;
    require(b < blocks.size(), "TOPICPOS beyond the last block");
    if (b != last_block) characters = 0;
    last_block = b;
    Cursor c(blocks[b], at);
    uint32_t block_size = c.u32(), len2 = c.u32(), prev = c.u32(),
             next = c.u32(), len1 = c.u32();
    unsigned type = c.u8();
    require(at + block_size <= blocks[b].size(), "record crosses its block");
    require(block_size == len1 + len2, "BlockSize");
    require(prev == previous, "PrevBlock link");
    if (type == 0x02) {
      Cursor title(blocks[b], at + len1, at + block_size);
      f.topics.push_back({title.cstr(), b * 0x8000 + characters, {}});
    } else {
      require(type == 0x20 && !f.topics.empty(), "unexpected record type");
      unsigned n;
      f.topics.back().paragraphs.push_back(
          read_paragraph(blocks[b], at, len1, len2, &n));
      characters += n;
    }
    previous = pos;
    pos = next;
  }
}

// --- lookup files -------------------------------------------------------

void read_lookups(File& f) {
  Less signed_less = [](const Bytes& a, const Bytes& b) {
    return static_cast<int32_t>(le32(a)) < static_cast<int32_t>(le32(b));
  };
  for (const auto& [k, v] : read_tree(need(f, "|CONTEXT"), fixed(4), fixed(4),
                                      signed_less, &f.context_levels))
    f.contexts[static_cast<int32_t>(le32(k))] = le32(v);

  Less caseless = [](const Bytes& a, const Bytes& b) {
    return strcasecmp(reinterpret_cast<const char*>(a.data()),
                      reinterpret_cast<const char*>(b.data())) < 0;
  };
  const Bytes& kwdata = need(f, "|KWDATA");
  for (const auto& [k, v] : read_tree(need(f, "|KWBTREE"), cstr_size, fixed(6),
                                      caseless, &f.keyword_levels)) {
    KeywordEntry e{as_string(k), {}};
    unsigned count = v[0] | v[1] << 8;
    for (unsigned i = 0; i < count; ++i)
      e.offsets.push_back(le32(kwdata, le32(v, 2) + 4 * i));
    f.keywords.push_back(e);
  }
  Less by_offset = [](const Bytes& a, const Bytes& b) {
    return le32(a) < le32(b);
  };
  for (const auto& [k, v] :
       read_tree(need(f, "|TTLBTREE"), fixed(4), cstr_size, by_offset, nullptr))
    f.titles[le32(k)] = as_string(v);

  Cursor map(need(f, "|CTXOMAP"));
  for (unsigned n = map.u16(); n > 0; --n) {
    uint32_t number = map.u32();
    f.map_numbers.emplace_back(number, map.u32());
  }
}

// |KWMAP names the first keyword of each leaf page of |KWBTREE.
void check_keyword_map(const File& f) {
  Tree t = tree_header(need(f, "|KWBTREE"));
  Cursor map(need(f, "|KWMAP"));
  unsigned pages = map.u16(), first = 0,
           page = descend(t, {}, cstr_size,
                          [](const Bytes&, const Bytes&) { return true; });
  for (unsigned i = 0; i < pages; ++i) {
    require(map.u32() == first && map.u16() == page, "|KWMAP entry");
    Cursor links(*t.data, page_at(t, page) + 2);
    first += links.u16();
    links.u16();
    page = links.u16();
  }
  require(page == 0xFFFF && map.done(), "|KWMAP page count");
}

}  // namespace

File read_file(const Bytes& bytes) {
  File f;
  read_directory(bytes, f);
  read_system(f);
  need(f, "|FONT");
  read_topics(f);
  read_lookups(f);
  check_keyword_map(f);
  return f;
}

const Topic* topic_at(const File& f, uint32_t offset) {
  for (const Topic& t : f.topics)
    if (t.offset == offset) return &t;
  return nullptr;
}

}  // namespace hlp
