// platform.h: the seam between the portable programs and the operating
// system. Declared once; implemented in posix/ and win32/. Nothing here
// throws: failures are reported through return values.
#ifndef WHIRLO_PLATFORM_PLATFORM_H
#define WHIRLO_PLATFORM_PLATFORM_H

#include <cstddef>
#include <string>

namespace platform {

/// The path separator: "/" on POSIX, "\\" on Windows.
extern const char SEPARATOR;

/// Reads one key of a private-profile file. Returns at most capacity - 1
/// characters of the value, or of `def` when the file, the section or the
/// key is missing. A bare file name means the file in the Windows directory.
std::string read_profile_string(const std::string& section,
                                const std::string& key, const std::string& def,
                                std::size_t capacity, const std::string& path);

/// The file that a private-profile `path` names: a bare file name stands
/// for the file of that name in the Windows directory.
std::string profile_location(const std::string& path);

/// True when something (a file, a directory or any other entry) exists at
/// `path`.
bool file_exists(const std::string& path);

/// The current directory, if it fits in `capacity` bytes with its
/// terminator; false otherwise.
bool current_directory(std::size_t capacity, std::string& directory);

/// Deletes a file. False when it could not be deleted.
bool delete_file(const std::string& path);

/// The name under which an existing regular file at `path` is opened for
/// reading. False when no such file exists or `path` names anything else
/// (a directory, a device, a pipe; on Windows also any link), so that
/// opening the name never blocks.
bool readable_file_path(const std::string& path, std::string& actual);

/// The name under which a file is opened for writing: an existing file of
/// that name (in any letter case) is reused, else the exact name is created.
std::string writable_file_path(const std::string& path);

/// Writes one key of a private-profile file, creating the file and the
/// section when missing (never a folder). A bare file name means the file
/// in the Windows directory. False when nothing could be written.
bool write_profile_string(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path);

/// Copies a file. With `fail_if_exists` an existing destination is left
/// alone and the copy fails. The copy is written beside the destination,
/// flushed to disk and then renamed over it, so the destination is always
/// its old file or the new one, whole; a link there is replaced, never
/// followed. False when the file was not copied; nothing is then left.
bool copy_file(const std::string& source, const std::string& destination,
               bool fail_if_exists);

/// Proves that a file can be created at `path`: removes what stands under
/// that name (in any letter case) unless it is a directory, a link itself
/// and never its target; creates the file without following links where
/// nothing stands; deletes just that file. False when it was not created.
bool probe_file(const std::string& path);

/// Creates one directory; its parent must exist.
bool create_directory(const std::string& path);

/// Shows a message box with an OK button and no owner window.
void message_box(const std::string& text, const std::string& title);

}  // namespace platform

#endif  // WHIRLO_PLATFORM_PLATFORM_H
