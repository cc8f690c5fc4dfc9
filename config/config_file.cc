#include "config_file.h"

#include <utility>

#include "config_names.h"
#include "platform/platform.h"

namespace config {

std::string locate_config_path() {
  std::string path;
  if (!platform::current_directory(VALUE_CAPACITY, path)) return FILE_NAME;
  return config_path_in(path);
}

namespace {

// The separator is appended even at a root directory, and the doubled
// separator is tried as it stands.
template <typename Exists>
std::string lookup_in(std::string path, Exists exists) {
  path += platform::SEPARATOR;
  path += FILE_NAME;
  if (path.size() > PATH_CAPACITY - 1 || !exists(path)) return FILE_NAME;
  return path;
}

}  // namespace

std::string config_path_in(std::string path) {
  return lookup_in(std::move(path), platform::file_exists);
}

std::string config_path_in(std::string path, platform::FileSystem& files) {
  return lookup_in(std::move(path), [&files](const std::string& name) {
    std::string actual;
    return files.find(name, actual) != platform::EntryKind::MISSING;
  });
}

std::string read_cgi_setting(const char* key, const std::string& path,
                             platform::FileSystem& files) {
  return files.read_profile_string(READ_SECTION, key, "", VALUE_CAPACITY, path);
}

}  // namespace config
