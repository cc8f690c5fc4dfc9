// The B+ tree that holds the directory and the index files.
#ifndef WHIRLO_TOOLS_HELPC_BTREE_H
#define WHIRLO_TOOLS_HELPC_BTREE_H

#include <string>
#include <vector>

#include "byte_writer.h"

namespace helpc {

struct BTreeEntry {
  Bytes key;    // also copied into index pages
  Bytes value;  // leaf pages only
};

struct BTreeFormat {
  unsigned flags;
  unsigned page_size;
  std::string structure;  // at most 16 characters
};

struct BTree {
  Bytes bytes;
  std::vector<unsigned> leaf_starts;  // number of each leaf's first entry
};

// Entries must come sorted in the tree's key order. Fills leaf pages in
// order and adds index levels until one root page remains.
BTree write_btree(const BTreeFormat& format,
                  const std::vector<BTreeEntry>& entries);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_BTREE_H
