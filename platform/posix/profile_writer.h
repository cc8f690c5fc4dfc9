// profile_writer.h: writing one key of a private-profile file as Windows
// does: only the one line changes, new keys and sections are added with
// CR LF line ends, and the file is replaced atomically.
#ifndef WHIRLO_PLATFORM_POSIX_PROFILE_WRITER_H
#define WHIRLO_PLATFORM_POSIX_PROFILE_WRITER_H

#include <string>
#include <string_view>

namespace platform {

/// False for what the file format cannot hold: a control byte anywhere
/// (text::holds_control_byte), an empty key, a key with "=" or starting
/// with "[", a section with "]".
bool profile_write_allowed(std::string_view section, std::string_view key,
                           std::string_view value);

/// `text` (empty for a missing file) with `key` set to `value` in the first
/// section of that name. Leading blanks of the value are dropped.
std::string edit_profile_text(std::string_view text, std::string_view section,
                              std::string_view key, std::string_view value);

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_PROFILE_WRITER_H
