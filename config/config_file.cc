#include "config_file.h"

#include "config_names.h"
#include "platform/platform.h"

namespace config {

std::string locate_config_path() {
  std::string path;
  if (!platform::current_directory(kValueCapacity, path)) return kFileName;
  // The separator is appended even at a root directory, and the doubled
  // separator is tried as it stands.
  path += platform::kSeparator;
  path += kFileName;
  if (path.size() > kPathCapacity - 1 || !platform::file_exists(path)) {
    return kFileName;
  }
  return path;
}

std::string read_cgi_setting(const char* key, const std::string& path) {
  return platform::read_profile_string(kReadSection, key, "", kValueCapacity,
                                       path);
}

}  // namespace config
