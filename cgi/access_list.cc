#include "access_list.h"

#include <cstring>

namespace cgi {

std::int32_t list_allows(const std::string& value, std::string& list) {
  if (value.empty() || list.empty()) return 1;
  // Each item is cut out with a terminator over its comma, which is put back
  // when the item does not occur.
  char* item = &list[0];
  for (;;) {
    char* comma = std::strchr(item, ',');
    if (comma) *comma = '\0';
    if (std::strstr(value.c_str(), item)) return 1;
    if (!comma) return 0;
    *comma = ',';
    item = comma + 1;
  }
}

}  // namespace cgi
