#include "picture_path.h"

#include "config/config_names.h"
#include "text/ascii.h"

namespace cgi {
namespace {

// Windows opens these names, with any extension, as devices.
bool is_device_name(const std::string& name) {
  std::string stem = text::upper_case(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (stem == device) return true;
  }
  return stem.size() == 4 &&
         (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

bool is_confined_name(const std::string& name) {
  return name.find_first_of("/\\:") == std::string::npos &&
         name.find("..") == std::string::npos;
}

bool picture_path(const std::string& directory, const std::string& name,
                  const std::string& extension, std::string& path) {
  // The extension of a named picture comes from the query too.
  if (!is_confined_name(name + extension)) return false;
  std::size_t length = directory.size() + name.size() + extension.size();
  if (length > config::PATH_CAPACITY - 1) return false;
  path = directory + name + extension;
  return !is_device_name(path.substr(path.find_last_of("/\\") + 1));
}

}  // namespace cgi
