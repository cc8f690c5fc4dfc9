// caching_file_system.h: the system's files for a process that serves many
// requests: folder listings and file contents are kept in memory, shared
// by every reader, and checked against the file's status at each use, so
// that a file added, removed or rewritten is seen by the next request.
#ifndef WHIRLO_PLATFORM_POSIX_CACHING_FILE_SYSTEM_H
#define WHIRLO_PLATFORM_POSIX_CACHING_FILE_SYSTEM_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "posix_file_system.h"

namespace platform {

/// What is kept, at most. Past `max_bytes` the contents are dropped and
/// read again as they are asked for; a file over `max_file` is read from
/// disk each time; past `max_folders` (or `max_statuses` within one
/// request) those are forgotten and learnt again.
struct CacheBounds {
  std::uint64_t max_bytes = std::uint64_t(64) << 20;
  std::uint64_t max_file = std::uint64_t(8) << 20;
  std::size_t max_folders = 1024;
  std::size_t max_statuses = 4096;
  /// How long a file or folder must have stood unchanged before it was
  /// read to be kept: timestamps as coarse as the file system's may hide
  /// a change made within that time (two seconds covers the coarsest,
  /// FAT's).
  std::int64_t settle_ns = 2'000'000'000;
};

/// A file's status, as far as it tells whether the file has changed.
struct FileStatus {
  bool exists = false;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::uint32_t mode = 0;
  std::int64_t modified_ns = 0, changed_ns = 0;
  bool operator==(const FileStatus& other) const;
  bool operator!=(const FileStatus& other) const { return !(*this == other); }
};

/// A status is asked of the system once per request (new_request()), then
/// remembered. Contents and listings are kept only once they are settled
/// (CacheBounds::settle_ns), so that a change within the timestamps'
/// granularity cannot hide behind an equal status.
class CachingFileSystem : public PosixFileSystem {
 public:
  explicit CachingFileSystem(CacheBounds bounds = CacheBounds())
      : bounds_(bounds) {}

  std::unique_ptr<FileReader> open(const std::string& path) override;
  void note_change() override;

  /// A request begins: every status is asked again at its next use.
  void new_request() { statuses_.clear(); }

  /// Bytes of file contents held now.
  std::uint64_t held_bytes() const { return held_bytes_; }

 protected:
  EntryKind entry_kind(const std::string& path) override;
  const std::vector<std::string>& listing(const std::string& dir) override;

 private:
  struct Content {
    FileStatus status;
    std::shared_ptr<const std::string> bytes;
  };
  struct Folder {
    FileStatus status;
    std::vector<std::string> names;
  };

  FileStatus status_of(const std::string& path);
  bool settled(const FileStatus& status, std::int64_t read_at_ns) const;
  std::unique_ptr<FileReader> read_into_cache(const std::string& actual,
                                              const FileStatus& status);

  CacheBounds bounds_;
  std::unordered_map<std::string, FileStatus> statuses_;
  std::unordered_map<std::string, Content> contents_;
  std::unordered_map<std::string, Folder> folders_;
  std::vector<std::string> scratch_;  // an unsettled folder's listing
  std::uint64_t held_bytes_ = 0;
};

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_CACHING_FILE_SYSTEM_H
