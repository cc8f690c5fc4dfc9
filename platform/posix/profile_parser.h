// profile_parser.h: lookup of one key in the text of a private-profile
// file, with the results the Windows functions give.
#ifndef WHIRLO_PLATFORM_POSIX_PROFILE_PARSER_H
#define WHIRLO_PLATFORM_POSIX_PROFILE_PARSER_H

#include <string>
#include <string_view>

namespace platform {

/// Finds `key` in `section` of `text`. True with the value when the key
/// holds one; false when the caller's default applies (missing section or
/// key, or a key line without "=").
bool find_profile_value(std::string_view text, std::string_view section,
                        std::string_view key, std::string& value);

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_PROFILE_PARSER_H
