// Reads the plain-text help source (a small Markdown subset; see
// docs/help/README.md) into a HelpDocument.
#ifndef WHIRLO_TOOLS_HELPC_HELP_SOURCE_H
#define WHIRLO_TOOLS_HELPC_HELP_SOURCE_H

#include <istream>
#include <string>
#include <vector>

#include "help_document.h"

namespace helpc {

// Throws SourceError naming the line for anything it does not accept.
HelpDocument parse_help_source(std::istream& in);

// The inline markup of one line or cell: [label](#id), `code`, \x.
std::vector<Span> parse_inline(const std::string& cp1252_text);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_HELP_SOURCE_H
