// |SYSTEM and |FONT: the file's version, title, contents topic and fonts.
#ifndef WHIRLO_TOOLS_HELPC_SYSTEM_FILES_H
#define WHIRLO_TOOLS_HELPC_SYSTEM_FILES_H

#include <cstdint>

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

Bytes write_system_file(const HelpDocument& doc, uint32_t contents_offset);
Bytes write_font_file();

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_SYSTEM_FILES_H
