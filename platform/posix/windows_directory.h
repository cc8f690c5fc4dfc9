// windows_directory.h: where bare profile names live on POSIX.
#ifndef WHIRLO_PLATFORM_POSIX_WINDOWS_DIRECTORY_H
#define WHIRLO_PLATFORM_POSIX_WINDOWS_DIRECTORY_H

#include <string>

namespace platform {

/// $WINDIR when set and not empty, else /etc.
std::string windows_directory();

/// A name without "/" or "\\" stands for the file in the Windows directory.
std::string profile_file_path(const std::string& name);

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_WINDOWS_DIRECTORY_H
