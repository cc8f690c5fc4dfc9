// The lookup files: context ids, keywords, titles and map numbers, each
// turned into the TOPICOFFSET of a topic.
#ifndef WHIRLO_TOOLS_HELPC_INDEX_FILES_H
#define WHIRLO_TOOLS_HELPC_INDEX_FILES_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

using InternalFiles = std::map<std::string, Bytes>;  // name to data

// Adds |CONTEXT, |KWBTREE, |KWDATA, |KWMAP, |TTLBTREE and |CTXOMAP.
void add_index_files(const HelpDocument& doc,
                     const std::vector<uint32_t>& offsets,
                     InternalFiles& files);

// Keywords sort without regard to ASCII letter case.
bool keyword_less(const std::string& a, const std::string& b);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_INDEX_FILES_H
