// service_limits.h: the bounds of the FastCGI service, each a documented
// setting with a default; whoever reaches the socket cannot raise them.
#ifndef WHIRLO_BRIDGE_SERVICE_LIMITS_H
#define WHIRLO_BRIDGE_SERVICE_LIMITS_H

#include <string>
#include <vector>

namespace bridge {

struct Limits {
  // Filled in with the service's bounds (running programs, connections,
  // params bytes, times, queues, read-ahead, temporary bytes).
};

/// One command-line setting of `limits`, named without its leading "--"
/// ("max-children"). False when `name` is not a limit (`known` false) or
/// `value` is out of range (`known` true, `problem` says why).
bool set_limit(const std::string& name, const std::string& value,
               Limits& limits, bool& known, std::string& problem);

/// The limits' names, defaults and meanings, one line each, for --help.
std::vector<std::string> limit_help();

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SERVICE_LIMITS_H
