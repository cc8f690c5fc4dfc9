// case_lookup.h: finding existing files without regard to ASCII letter
// case, as Windows file systems do.
#ifndef WHIRLO_PLATFORM_POSIX_CASE_LOOKUP_H
#define WHIRLO_PLATFORM_POSIX_CASE_LOOKUP_H

#include <string>

namespace platform {

// `other` is what exists but is neither a regular file nor a directory
// (a FIFO, a device, a socket, or a link to one): it exists, but is never
// opened as a file.
enum class EntryKind { MISSING, FILE, DIRECTORY, OTHER };

/// Looks `path` up: the exact name first, then each component matched
/// case-insensitively within its directory (the byte-wise smallest of
/// several matches wins). `actual` receives the name found.
EntryKind find_existing(const std::string& path, std::string& actual);

/// Drops the cached directory listings; called after every change that the
/// platform layer makes to the file system.
void note_file_system_change();

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_CASE_LOOKUP_H
