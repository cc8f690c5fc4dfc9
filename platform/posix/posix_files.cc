// posix_files.cc: the installer's file operations on POSIX: copying with a
// fail-if-exists flag, creating one directory and the writability probe.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "case_lookup.h"
#include "file_replacement.h"
#include "platform.h"
#include "text/ascii.h"

namespace platform {
namespace {

bool copy_bytes(int from, FileReplacement& to) {
  std::vector<char> buffer(65536);
  for (;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n == 0) return true;
    if (n < 0) return false;
    if (!to.write(buffer.data(), static_cast<std::size_t>(n))) return false;
  }
}

// Where the copy goes: an existing entry of that name in any letter case,
// else the exact name. False when the copy must not happen: the name is
// taken and may not be replaced, is a directory, or is the source itself.
bool copy_target(const std::string& destination, const struct stat& source,
                 bool fail_if_exists, std::string& target) {
  switch (find_existing(destination, target)) {
    case EntryKind::MISSING: target = destination; return true;
    case EntryKind::DIRECTORY: return false;
    case EntryKind::FILE:
    case EntryKind::OTHER: break;
  }
  struct stat st;
  if (fail_if_exists || stat(target.c_str(), &st) != 0) return false;
  return st.st_dev != source.st_dev || st.st_ino != source.st_ino;
}

// The copy, with the source's permission bits, is renamed over the target:
// a link there is replaced, not followed, and an old file stays whole
// until the new one is.
bool copy_open_file(int from, const struct stat& source,
                    const std::string& target, bool fail_if_exists) {
  FileReplacement copy(target, source.st_mode & 07777);
  return copy.fd() >= 0 && copy_bytes(from, copy) &&
         copy.commit(!fail_if_exists);
}

// Removes each entry of the folder whose name matches `leaf` in any letter
// case, a link itself and never its target. False when one of them is a
// directory, which stays: the name is then taken, as on Windows.
bool remove_leftovers(const std::string& folder, const std::string& leaf) {
  std::vector<std::string> found;
  if (DIR* d = opendir(folder.empty() ? "." : folder.c_str())) {
    while (dirent* entry = readdir(d)) {
      if (text::same_ignoring_case(entry->d_name, leaf)) {
        found.push_back(folder + entry->d_name);
      }
    }
    closedir(d);
  }
  bool free = true;
  struct stat st;
  for (const std::string& path : found) {
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      free = false;
    } else {
      unlink(path.c_str());
    }
  }
  return free;
}

// Creates the file only where nothing, not even a dangling link, stands,
// and removes it only while the name is still its own.
bool create_and_remove(const std::string& path) {
  int fd = open(path.c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat created, named;
  bool ours = fstat(fd, &created) == 0 && lstat(path.c_str(), &named) == 0 &&
              created.st_dev == named.st_dev && created.st_ino == named.st_ino;
  close(fd);
  if (ours) unlink(path.c_str());
  return true;
}

}  // namespace

bool copy_file(const std::string& source, const std::string& destination,
               bool fail_if_exists) {
  std::string actual, target;
  if (find_existing(source, actual) != EntryKind::FILE) return false;
  int from = open(actual.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (from < 0) return false;
  struct stat st;
  bool copied = fstat(from, &st) == 0 && S_ISREG(st.st_mode) &&
                copy_target(destination, st, fail_if_exists, target) &&
                copy_open_file(from, st, target, fail_if_exists);
  close(from);
  note_file_system_change();
  return copied;
}

bool create_directory(const std::string& path) {
  bool created = mkdir(path.c_str(), 0777) == 0;
  note_file_system_change();
  return created;
}

bool probe_file(const std::string& path) {
  std::size_t slash = path.rfind('/');
  std::string folder =
      slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string leaf = path.substr(folder.size());
  if (leaf.empty()) return false;
  if (!folder.empty() &&
      find_existing(folder, folder) != EntryKind::DIRECTORY) {
    return false;
  }
  if (!folder.empty() && folder.back() != '/') folder += '/';
  bool created =
      remove_leftovers(folder, leaf) && create_and_remove(folder + leaf);
  note_file_system_change();
  return created;
}

}  // namespace platform
