// environment.h: the CGI/1.1 request as the server hands it over.
#ifndef WHIRLO_BRIDGE_ENVIRONMENT_H
#define WHIRLO_BRIDGE_ENVIRONMENT_H

#include <map>
#include <string>

namespace bridge {

using Environment = std::map<std::string, std::string>;

/// The value of `name`, or "" when it is not set.
inline std::string env_value(const Environment& env, const std::string& name) {
  auto found = env.find(name);
  return found == env.end() ? std::string() : found->second;
}

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_ENVIRONMENT_H
