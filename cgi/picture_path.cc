#include "picture_path.h"

#include "config/config_names.h"

namespace cgi {

bool is_confined_name(const std::string& name) {
  return name.find_first_of("/\\:") == std::string::npos &&
         name.find("..") == std::string::npos;
}

bool picture_path(const std::string& directory, const std::string& name,
                  const std::string& extension, std::string& path) {
  // The extension of a named picture comes from the query too.
  if (!is_confined_name(name + extension)) return false;
  std::size_t length = directory.size() + name.size() + extension.size();
  if (length > config::kPathCapacity - 1) return false;
  path = directory + name + extension;
  return true;
}

}  // namespace cgi
