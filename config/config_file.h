// config_file.h: locating and reading the configuration file.
#ifndef WHIRLO_CONFIG_CONFIG_FILE_H
#define WHIRLO_CONFIG_CONFIG_FILE_H

#include <string>

#include "platform/file_system.h"

namespace config {

/// The CGI program's configuration path: the current directory's
/// "pelk.ini" when it exists, else the bare name (the Windows directory).
/// A path that would not fit 255 characters falls back to the bare name.
std::string locate_config_path();

/// The same lookup from `directory` instead of the current directory.
std::string config_path_in(std::string directory);
/// The same, with the existence asked of `files`.
std::string config_path_in(std::string directory, platform::FileSystem& files);

/// One key of the CGI program's section, at most 254 characters, empty
/// when missing.
std::string read_cgi_setting(
    const char* key, const std::string& path,
    platform::FileSystem& files = platform::system_files());

}  // namespace config

#endif  // WHIRLO_CONFIG_CONFIG_FILE_H
