#include "access_list.h"

#include <string_view>

namespace cgi {

bool list_allows(const std::string& value, std::string& list) {
  if (value.empty() || list.empty()) return true;
  // Items are compared as they stand; the list itself is left unchanged.
  std::string_view items(list);
  for (;;) {
    std::size_t comma = items.find(',');
    if (value.find(items.substr(0, comma)) != std::string::npos) return true;
    if (comma == std::string_view::npos) return false;
    items.remove_prefix(comma + 1);
  }
}

}  // namespace cgi
