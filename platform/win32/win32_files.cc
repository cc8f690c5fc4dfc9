// win32_files.cc: the installer's file operations on Windows.
#include <windows.h>

#include "platform.h"

namespace platform {

bool write_profile_string(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                    value.c_str(), path.c_str()) != 0;
}

bool copy_file(const std::string& source, const std::string& destination,
               bool fail_if_exists) {
  return CopyFileA(source.c_str(), destination.c_str(),
                   fail_if_exists ? TRUE : FALSE) != 0;
}

bool create_directory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

}  // namespace platform
