// Assembles the whole help file: header, directory, internal files.
#ifndef WHIRLO_TOOLS_HELPC_HELP_FILE_H
#define WHIRLO_TOOLS_HELPC_HELP_FILE_H

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

// The document must have passed check_document.
Bytes write_help_file(const HelpDocument& doc);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_HELP_FILE_H
