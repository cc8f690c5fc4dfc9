// UTF-8 source text to the help file's single-byte code page.
#ifndef WHIRLO_TOOLS_HELPC_CP1252_H
#define WHIRLO_TOOLS_HELPC_CP1252_H

#include <string>

namespace helpc {

// Throws SourceError for a malformed sequence or a character that
// cp1252 cannot hold.
std::string utf8_to_cp1252(const std::string& utf8);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_CP1252_H
