// ascii_case.h: names that match without regard to ASCII letter case, as
// Windows compares file, section and key names.
#ifndef WHIRLO_PLATFORM_POSIX_ASCII_CASE_H
#define WHIRLO_PLATFORM_POSIX_ASCII_CASE_H

#include <string_view>

namespace platform {

inline char fold_ascii(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

inline bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
  }
  return true;
}

}  // namespace platform

#endif
