// command_tail.h: the command-line tail and the data-file path in it.
#ifndef WHIRLO_CGI_COMMAND_TAIL_H
#define WHIRLO_CGI_COMMAND_TAIL_H

#include <string>

namespace cgi {

/// The tail of a full command line: the program name (quoted, or up to the
/// first byte of 32 or less) and the bytes 1 to 32 after it skipped.
std::string command_tail(const std::string& command_line);

/// `text` without its leading bytes 1 to 32.
std::string skip_separators(const std::string& text);

/// The data-file path: the tail up to its first blank (code 32 only).
std::string data_file_path(const std::string& tail);

}  // namespace cgi

#endif  // WHIRLO_CGI_COMMAND_TAIL_H
