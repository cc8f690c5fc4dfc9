// file_replacement.cc: the temporary is locked with flock() from just
// after its creation until its last name is gone, which tells a live
// writer's temporary from one whose writer was killed.
#include "file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "text/write_all.h"

namespace platform {
namespace {

constexpr char MARK[] = ".~";
constexpr std::size_t RANDOM_LENGTH = 6;
constexpr int CREATE_ATTEMPTS = 8;

std::string folder_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// True when `name` still names the file open as `fd`.
bool still_named(int fd, const std::string& name) {
  struct stat open_st, named_st;
  return fstat(fd, &open_st) == 0 && lstat(name.c_str(), &named_st) == 0 &&
         open_st.st_dev == named_st.st_dev && open_st.st_ino == named_st.st_ino;
}

// A temporary whose lock can be taken has no live writer: it was killed,
// or it finished and renamed the temporary away, which the name tells.
void remove_if_abandoned(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(fd, path)) {
    unlink(path.c_str());
  }
  close(fd);
}

void remove_abandoned(const std::string& path) {
  std::string folder = folder_of(path), leaf = path.substr(folder.size());
  std::vector<std::string> found;
  if (DIR* d = opendir(folder.empty() ? "." : folder.c_str())) {
    while (dirent* entry = readdir(d)) {
      if (is_replacement_of(entry->d_name, leaf)) {
        found.push_back(folder + entry->d_name);
      }
    }
    closedir(d);
  }
  for (const std::string& name : found) remove_if_abandoned(name);
}

// Between mkstemp() and flock() a cleaner may take the new temporary for
// an abandoned one; the lock or the name check then fails, the cleaner
// removes it, and another name is tried.
int create_locked(const std::string& path, std::string& temporary) {
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
    std::string pattern = path + MARK + std::string(RANDOM_LENGTH, 'X');
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return -1;
    temporary = name.data();
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(fd, temporary)) {
      return fd;
    }
    close(fd);
  }
  return -1;
}

// A file system that cannot flush a folder (EINVAL) keeps renames by other
// means.
bool flush_folder(const std::string& folder) {
  int fd = open(folder.empty() ? "." : folder.c_str(),
                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool flushed = fsync(fd) == 0 || errno == EINVAL;
  close(fd);
  return flushed;
}

bool lacks_hard_links(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

}  // namespace

bool is_replacement_of(const std::string& name, const std::string& leaf) {
  std::size_t stem = leaf.size() + sizeof MARK - 1;
  if (name.size() != stem + RANDOM_LENGTH ||
      name.compare(0, leaf.size(), leaf) != 0 ||
      name.compare(leaf.size(), stem - leaf.size(), MARK) != 0) {
    return false;
  }
  for (std::size_t i = stem; i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

FileReplacement::FileReplacement(const std::string& path, mode_t mode)
    : path_(path) {
  remove_abandoned(path);
  fd_ = create_locked(path, temporary_);
  if (fd_ >= 0 && fchmod(fd_, mode) != 0) {
    unlink(temporary_.c_str());
    close(fd_);
    fd_ = -1;
  }
}

FileReplacement::~FileReplacement() {
  if (fd_ < 0) return;
  unlink(temporary_.c_str());  // while the lock is still held
  close(fd_);
}

bool FileReplacement::write(const char* data, std::size_t size) {
  auto write_some = [this](const char* part, std::size_t length) {
    return ::write(fd_, part, length);
  };
  return fd_ >= 0 && text::write_all(data, size, write_some);
}

bool FileReplacement::commit(bool replace) {
  if (fd_ < 0) return false;
  bool published = fsync(fd_) == 0 && publish(replace);
  if (!published) unlink(temporary_.c_str());
  bool flushed = published && flush_folder(folder_of(path_));
  close(fd_);  // the lock goes only after the temporary's name
  fd_ = -1;
  return flushed;
}

// rename() replaces in one step; link() gives the name only where there is
// none. Without hard links the name is checked just before the rename.
bool FileReplacement::publish(bool replace) {
  const char* from = temporary_.c_str();
  if (replace) return std::rename(from, path_.c_str()) == 0;
  if (link(from, path_.c_str()) == 0) {
    unlink(from);
    return true;
  }
  struct stat st;
  if (!lacks_hard_links(errno) || lstat(path_.c_str(), &st) == 0) return false;
  return std::rename(from, path_.c_str()) == 0;
}

}  // namespace platform
