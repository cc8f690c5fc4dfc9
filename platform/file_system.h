// file_system.h: the files whirlo32 reads, behind one object. The real one
// is the system's (posix/, win32/); tests and fuzz targets hand the core
// one that holds its files in memory.
#ifndef WHIRLO_PLATFORM_FILE_SYSTEM_H
#define WHIRLO_PLATFORM_FILE_SYSTEM_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// `OTHER` is what exists but is neither a regular file nor a directory (a
// FIFO, a device, a socket; on Windows also any link): it exists, but is
// never opened as a file.
enum class EntryKind { MISSING, FILE, DIRECTORY, OTHER };

/// One regular file opened for reading.
class FileReader {
 public:
  virtual ~FileReader() = default;
  /// Reads up to `size` bytes into `block`; 0 at the end or on an error.
  virtual std::size_t read(char* block, std::size_t size) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  /// What `path` names, looked up without regard to ASCII letter case
  /// where the system's own names are case-sensitive: the exact name
  /// first, then each component matched within its directory (the
  /// byte-wise smallest of several matches wins). `actual` receives the
  /// name found; it is left alone when nothing is.
  virtual EntryKind find(const std::string& path, std::string& actual) = 0;

  /// Opens the regular file that `path` names for reading in blocks; null
  /// when it is missing or anything but a regular file, which is never
  /// opened.
  virtual std::unique_ptr<FileReader> open(const std::string& path) = 0;

  /// The names in the directory `path` (without "." and ".."), in no
  /// particular order. False when it cannot be listed.
  virtual bool list(const std::string& path,
                    std::vector<std::string>& names) = 0;

  /// One key of a private-profile file, as platform::read_profile_string.
  virtual std::string read_profile_string(const std::string& section,
                                          const std::string& key,
                                          const std::string& def,
                                          std::size_t capacity,
                                          const std::string& path) = 0;

  /// Forgets what it has cached about the files; called after every change
  /// made to them.
  virtual void note_change() {}

  /// Every byte of the regular file that `path` names. False when it is no
  /// such file or cannot be read.
  bool read_whole(const std::string& path, std::string& bytes);
};

/// A reader of the file at exactly `actual` through a standard file
/// stream, as the system's file systems open what they have found; null
/// when it cannot be opened.
std::unique_ptr<FileReader> open_stream(const std::string& actual);

/// The system's files, one object for the process.
FileSystem& system_files();

}  // namespace platform

#endif  // WHIRLO_PLATFORM_FILE_SYSTEM_H
