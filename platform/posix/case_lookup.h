// case_lookup.h: the platform layer's own lookups, through the process's
// PosixFileSystem.
#ifndef WHIRLO_PLATFORM_POSIX_CASE_LOOKUP_H
#define WHIRLO_PLATFORM_POSIX_CASE_LOOKUP_H

#include <string>

#include "file_system.h"

namespace platform {

/// system_files().find(path, actual).
EntryKind find_existing(const std::string& path, std::string& actual);

/// Drops the process's cached directory listings; called after every
/// change that the platform layer makes to the file system.
void note_file_system_change();

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_CASE_LOOKUP_H
