#include "btree.h"

#include <stdexcept>

namespace helpc {

namespace {

constexpr unsigned LEAF_HEADER = 8;
constexpr unsigned INDEX_HEADER = 6;
constexpr unsigned NONE = 0xFFFF;

struct Page {
  Bytes body;  // the entries
  unsigned count = 0;
  unsigned first_child = NONE;  // index pages
  Bytes first_key;
};

// Splits entries into pages of at most `room` bytes each.
std::vector<Page> fill(const std::vector<BTreeEntry>& entries, unsigned room) {
  std::vector<Page> pages(1);
  for (const BTreeEntry& e : entries) {
    size_t size = e.key.size() + e.value.size();
    if (size > room)
      throw std::length_error("B+ tree entry larger than a page");
    if (pages.back().body.size() + size > room) pages.emplace_back();
    Page& p = pages.back();
    if (p.count++ == 0) p.first_key = e.key;
    p.body.insert(p.body.end(), e.key.begin(), e.key.end());
    p.body.insert(p.body.end(), e.value.begin(), e.value.end());
  }
  return pages;
}

// One index level above `below`, whose first page number is `first`: each
// index page names its first child, then a (first key, page) pair for
// every further child.
std::vector<Page> index_level(const std::vector<Page>& below, unsigned first,
                              unsigned room) {
  std::vector<Page> pages;
  for (size_t i = 0; i < below.size(); ++i) {
    unsigned child = first + i;
    const Bytes& key = below[i].first_key;
    if (pages.empty() || pages.back().body.size() + key.size() + 2 > room) {
      Page p;
      p.first_child = child;
      p.first_key = key;
      pages.push_back(p);
      continue;
    }
    ByteWriter pair;
    pair.append(key);
    pair.u16(child);
    pages.back().body.insert(pages.back().body.end(), pair.bytes.begin(),
                             pair.bytes.end());
    ++pages.back().count;
  }
  return pages;
}

void put_page(ByteWriter& w, const Page& p, unsigned page_size, bool leaf,
              unsigned number, unsigned total_leaves) {
  size_t start = w.size();
  unsigned header = leaf ? LEAF_HEADER : INDEX_HEADER;
  w.u16(page_size - header - p.body.size());
  w.u16(p.count);
  if (leaf) {
    w.u16(number == 0 ? NONE : number - 1);
    w.u16(number + 1 < total_leaves ? number + 1 : NONE);
  } else {
    w.u16(p.first_child);
  }
  w.append(p.body);
  w.pad_to(start + page_size);
}

}  // namespace

BTree write_btree(const BTreeFormat& format,
                  const std::vector<BTreeEntry>& entries) {
  std::vector<std::vector<Page>> levels{
      fill(entries, format.page_size - LEAF_HEADER)};
  unsigned next_page = levels.back().size();
  while (levels.back().size() > 1) {
    unsigned first = next_page - levels.back().size();
    levels.push_back(
        index_level(levels.back(), first, format.page_size - INDEX_HEADER));
    next_page += levels.back().size();
  }
  if (format.structure.size() > 16) throw std::length_error("structure text");
  ByteWriter w;
  w.u16(0x293B);
  w.u16(format.flags);
  w.u16(format.page_size);
  Bytes structure(16, 0);
  std::copy(format.structure.begin(), format.structure.end(),
            structure.begin());
  w.append(structure);
  w.u16(0);              // must be zero
  w.u16(0);              // page splits
  w.u16(next_page - 1);  // root: the last page written
  w.u16(0xFFFF);         // must be -1
  w.u16(next_page);
  w.u16(levels.size());
  w.u32(entries.size());
  unsigned leaves = levels.front().size(), number = 0;
  for (size_t level = 0; level < levels.size(); ++level)
    for (const Page& p : levels[level])
      put_page(w, p, format.page_size, level == 0, number++, leaves);
  BTree tree{w.bytes, {}};
  unsigned start = 0;
  for (const Page& p : levels.front()) {
    tree.leaf_starts.push_back(start);
    start += p.count;
  }
  return tree;
}

}  // namespace helpc
