#include "caching_file_system.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {
namespace {

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::int64_t wall_clock_ns() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

FileStatus read_status(const std::string& path) {
  FileStatus status;
  struct stat st;
  if (stat(path.empty() ? "." : path.c_str(), &st) != 0) return status;
  status.exists = true;
  status.device = st.st_dev;
  status.inode = st.st_ino;
  status.size = static_cast<std::uint64_t>(st.st_size);
  status.mode = st.st_mode;
  status.modified_ns = nanoseconds(st.st_mtim);
  status.changed_ns = nanoseconds(st.st_ctim);
  return status;
}

// A file's bytes held in memory, shared with every other reader of them.
class SharedReader : public FileReader {
 public:
  explicit SharedReader(std::shared_ptr<const std::string> bytes)
      : bytes_(std::move(bytes)) {}
  std::size_t read(char* block, std::size_t size) override {
    std::size_t count = std::min(size, bytes_->size() - at_);
    std::memcpy(block, bytes_->data() + at_, count);
    at_ += count;
    return count;
  }

 private:
  std::shared_ptr<const std::string> bytes_;
  std::size_t at_ = 0;
};

}  // namespace

bool FileStatus::operator==(const FileStatus& other) const {
  return exists == other.exists && device == other.device &&
         inode == other.inode && size == other.size && mode == other.mode &&
         modified_ns == other.modified_ns && changed_ns == other.changed_ns;
}

FileStatus CachingFileSystem::status_of(const std::string& path) {
  auto found = statuses_.find(path);
  if (found != statuses_.end()) return found->second;
  if (statuses_.size() >= bounds_.max_statuses) statuses_.clear();
  FileStatus status = read_status(path);
  statuses_.emplace(path, status);
  return status;
}

bool CachingFileSystem::settled(const FileStatus& status,
                                std::int64_t read_at_ns) const {
  return status.modified_ns < read_at_ns - bounds_.settle_ns &&
         status.changed_ns < read_at_ns - bounds_.settle_ns;
}

EntryKind CachingFileSystem::entry_kind(const std::string& path) {
  FileStatus status = status_of(path);
  if (!status.exists) return EntryKind::MISSING;
  if (S_ISDIR(status.mode)) return EntryKind::DIRECTORY;
  return S_ISREG(status.mode) ? EntryKind::FILE : EntryKind::OTHER;
}

const std::vector<std::string>& CachingFileSystem::listing(
    const std::string& dir) {
  FileStatus status = status_of(dir);
  auto found = folders_.find(dir);
  if (found != folders_.end()) {
    if (status.exists && found->second.status == status)
      return found->second.names;
    folders_.erase(found);
  }
  std::int64_t read_at = wall_clock_ns();
  scratch_.clear();
  read_directory(dir, scratch_);
  if (!status.exists || !settled(status, read_at) || read_status(dir) != status)
    return scratch_;
  if (folders_.size() >= bounds_.max_folders) folders_.clear();
  Folder& folder = folders_[dir];
  folder.status = status;
  folder.names.swap(scratch_);
  return folder.names;
}

std::unique_ptr<FileReader> CachingFileSystem::open(const std::string& path) {
  std::string actual;
  if (find(path, actual) != EntryKind::FILE) return nullptr;
  FileStatus status = status_of(actual);
  auto found = contents_.find(actual);
  if (found != contents_.end()) {
    if (found->second.status == status)
      return std::make_unique<SharedReader>(found->second.bytes);
    held_bytes_ -= found->second.bytes->size();
    contents_.erase(found);
  }
  return read_into_cache(actual, status);
}

// Reads the whole file, keeping it when it is small enough and settled and
// did not change while it was read.
std::unique_ptr<FileReader> CachingFileSystem::read_into_cache(
    const std::string& actual, const FileStatus& status) {
  if (status.size > bounds_.max_file) return open_stream(actual);
  std::int64_t read_at = wall_clock_ns();
  std::unique_ptr<FileReader> reader = open_stream(actual);
  if (!reader) return nullptr;
  auto bytes = std::make_shared<std::string>();
  bytes->reserve(status.size);
  char block[32768];
  while (std::size_t got = reader->read(block, sizeof block)) {
    bytes->append(block, got);
    if (bytes->size() > bounds_.max_file) return open_stream(actual);
  }
  if (settled(status, read_at) && read_status(actual) == status &&
      bytes->size() == status.size) {
    if (held_bytes_ + bytes->size() > bounds_.max_bytes) {
      contents_.clear();
      held_bytes_ = 0;
    }
    held_bytes_ += bytes->size();
    contents_[actual] = Content{status, bytes};
  }
  return std::make_unique<SharedReader>(std::move(bytes));
}

void CachingFileSystem::note_change() {
  PosixFileSystem::note_change();
  statuses_.clear();
  contents_.clear();
  folders_.clear();
  held_bytes_ = 0;
}

}  // namespace platform
