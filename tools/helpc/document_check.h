// What the help file needs of a document beyond its syntax.
#ifndef HELPC_DOCUMENT_CHECK_H_
#define HELPC_DOCUMENT_CHECK_H_

#include "help_document.h"

namespace helpc {

// Throws SourceError: bad or duplicate context ids (also ids whose hashes
// collide), jumps to no topic, a keyword or map number given twice.
void check_document(const HelpDocument& doc);

}  // namespace helpc

#endif  // HELPC_DOCUMENT_CHECK_H_
