#include "config_file.h"

#include "config_names.h"
#include "platform/platform.h"

namespace config {

std::string locate_config_path() {
  std::string path;
  if (!platform::current_directory(VALUE_CAPACITY, path)) return FILE_NAME;
  return config_path_in(path);
}

std::string config_path_in(std::string path) {
  // The separator is appended even at a root directory, and the doubled
  // separator is tried as it stands.
  path += platform::SEPARATOR;
  path += FILE_NAME;
  if (path.size() > PATH_CAPACITY - 1 || !platform::file_exists(path)) {
    return FILE_NAME;
  }
  return path;
}

std::string read_cgi_setting(const char* key, const std::string& path,
                             platform::FileSystem& files) {
  return files.read_profile_string(READ_SECTION, key, "", VALUE_CAPACITY, path);
}

}  // namespace config
