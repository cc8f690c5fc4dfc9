// What the help file needs of a document beyond its syntax.
#ifndef WHIRLO_TOOLS_HELPC_DOCUMENT_CHECK_H
#define WHIRLO_TOOLS_HELPC_DOCUMENT_CHECK_H

#include "help_document.h"

namespace helpc {

// Throws SourceError: bad or duplicate context ids (also ids whose hashes
// collide), jumps to no topic, a keyword or map number given twice.
void check_document(const HelpDocument& doc);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_DOCUMENT_CHECK_H
