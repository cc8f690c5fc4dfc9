#include "service_limits.h"

namespace bridge {

bool set_limit(const std::string&, const std::string&, Limits&, bool& known,
               std::string&) {
  known = false;
  return false;
}

std::vector<std::string> limit_help() { return {}; }

}  // namespace bridge
