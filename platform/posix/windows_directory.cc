#include "windows_directory.h"

#include <cstdlib>

namespace platform {

std::string windows_directory() {
  const char* windir = std::getenv("WINDIR");
  return windir && *windir ? windir : "/etc";
}

std::string profile_file_path(const std::string& name) {
  if (name.find_first_of("/\\") != std::string::npos) return name;
  std::string dir = windows_directory();
  if (dir.back() != '/') dir += '/';
  return dir + name;
}

}  // namespace platform
