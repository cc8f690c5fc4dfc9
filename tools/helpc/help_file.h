// Assembles the whole help file: header, directory, internal files.
#ifndef HELPC_HELP_FILE_H_
#define HELPC_HELP_FILE_H_

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

// The document must have passed check_document.
Bytes write_help_file(const HelpDocument& doc);

}  // namespace helpc

#endif  // HELPC_HELP_FILE_H_
