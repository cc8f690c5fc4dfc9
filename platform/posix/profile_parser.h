// profile_parser.h: lookup of one key in the text of a private-profile
// file, with the results the Windows functions give.
#ifndef WHIRLO_PLATFORM_POSIX_PROFILE_PARSER_H
#define WHIRLO_PLATFORM_POSIX_PROFILE_PARSER_H

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// Finds `key` in `section` of `text`. True with the value when the key
/// holds one; false when the caller's default applies (missing section or
/// key, or a key line without "=").
bool find_profile_value(std::string_view text, std::string_view section,
                        std::string_view key, std::string& value);

/// What reading the key gives: the value from `text`, or `def` without its
/// trailing blanks when `text` is null (no file) or lacks the key; at most
/// capacity - 1 characters.
std::string profile_answer(const std::string* text, std::string_view section,
                           std::string_view key, const std::string& def,
                           std::size_t capacity);

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_PROFILE_PARSER_H
