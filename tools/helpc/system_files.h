// |SYSTEM and |FONT: the file's version, title, contents topic and fonts.
#ifndef HELPC_SYSTEM_FILES_H_
#define HELPC_SYSTEM_FILES_H_

#include <cstdint>

#include "byte_writer.h"
#include "help_document.h"

namespace helpc {

Bytes write_system_file(const HelpDocument& doc, uint32_t contents_offset);
Bytes write_font_file();

}  // namespace helpc

#endif  // HELPC_SYSTEM_FILES_H_
