#include "ascii.h"

#include <algorithm>

namespace text {

std::string upper_case(std::string s) {
  for (char& c : s) c = to_upper(c);
  return s;
}

std::string lower_case(std::string s) {
  for (char& c : s) c = to_lower(c);
  return s;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (to_upper(a[i]) != to_upper(b[i])) return false;
  }
  return true;
}

bool less_ignoring_case(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(to_upper(x)) <
               static_cast<unsigned char>(to_upper(y));
      });
}

std::string_view trim_blanks(std::string_view s) {
  std::size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return std::string_view();
  return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

}  // namespace text
