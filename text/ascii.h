// ascii.h: letter case and blanks in ASCII only, whatever the locale, as
// Windows compares file, section and key names and as HTTP compares
// header names.
#ifndef WHIRLO_TEXT_ASCII_H
#define WHIRLO_TEXT_ASCII_H

#include <string>
#include <string_view>

namespace text {

inline char to_upper(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

inline char to_lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

/// `s` with every ASCII letter upper-cased; other bytes unchanged.
std::string upper_case(std::string s);

/// `s` with every ASCII letter lower-cased; other bytes unchanged.
std::string lower_case(std::string s);

/// True when `a` and `b` differ at most in ASCII letter case.
bool same_ignoring_case(std::string_view a, std::string_view b);

/// Byte-wise order of the upper-cased texts.
bool less_ignoring_case(std::string_view a, std::string_view b);

/// `s` without the blanks and tabs at either end.
std::string_view trim_blanks(std::string_view s);

}  // namespace text

#endif  // WHIRLO_TEXT_ASCII_H
