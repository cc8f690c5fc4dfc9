// file_replacement.h: new contents for a file, written to a temporary file
// beside it and renamed over it, each step flushed to disk, so that the
// file holds either its old contents or its new ones, whole, even after a
// killed writer or a power loss.
#ifndef WHIRLO_PLATFORM_POSIX_FILE_REPLACEMENT_H
#define WHIRLO_PLATFORM_POSIX_FILE_REPLACEMENT_H

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

class FileReplacement {
 public:
  /// Removes the temporaries of `path` that dead writers left, then creates
  /// "<path>.~XXXXXX" with `mode`. A writer holds a lock on its temporary
  /// for as long as the temporary exists, so a live one's is never removed.
  FileReplacement(const std::string& path, mode_t mode);
  ~FileReplacement();  // removes the temporary unless committed
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  /// The temporary's descriptor, or -1 when it could not be created.
  int fd() const { return fd_; }

  /// Writes all `size` bytes to the temporary. False when it is not open
  /// or a write failed.
  bool write(const char* data, std::size_t size);

  /// Flushes the temporary to disk and gives it the path, replacing what is
  /// there, or, without `replace`, only where nothing is; then flushes the
  /// folder. False on any failure; the temporary is then gone.
  bool commit(bool replace);

 private:
  bool publish(bool replace);

  std::string path_, temporary_;
  int fd_ = -1;
};

/// True for the name of a temporary that FileReplacement makes for `leaf`.
bool is_replacement_of(const std::string& name, const std::string& leaf);

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_FILE_REPLACEMENT_H
