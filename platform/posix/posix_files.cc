// posix_files.cc: the installer's file operations on POSIX: copying with a
// fail-if-exists flag and creating one directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "case_lookup.h"
#include "platform.h"

namespace platform {
namespace {

bool copy_bytes(int from, int to) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(from, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) return false;
    for (ssize_t done = 0; done < n;) {
      ssize_t m = write(to, buffer + done, static_cast<std::size_t>(n - done));
      if (m < 0) return false;
      done += m;
    }
  }
}

// Where the copy goes: an existing file of that name in any letter case,
// else the exact name. False when the copy must not happen: the name is
// taken and may not be replaced, is a directory, or is the source itself.
bool copy_target(const std::string& destination, const struct stat& source,
                 bool fail_if_exists, std::string& target) {
  switch (find_existing(destination, target)) {
    case EntryKind::missing:
      target = destination;
      return true;
    case EntryKind::directory:
      return false;
    case EntryKind::file:
      break;
  }
  struct stat st;
  if (fail_if_exists || stat(target.c_str(), &st) != 0) return false;
  return st.st_dev != source.st_dev || st.st_ino != source.st_ino;
}

bool copy_open_file(int from, const struct stat& source,
                    const std::string& target, bool fail_if_exists) {
  int flags = O_WRONLY | O_CREAT | O_TRUNC | (fail_if_exists ? O_EXCL : 0);
  mode_t mode = source.st_mode & 07777;
  int to = open(target.c_str(), flags, mode);
  if (to < 0) return false;
  // The copy keeps the source's permission bits, also over an old file.
  bool copied = copy_bytes(from, to) && fchmod(to, mode) == 0;
  copied = close(to) == 0 && copied;
  return copied;
}

}  // namespace

bool copy_file(const std::string& source, const std::string& destination,
               bool fail_if_exists) {
  std::string actual, target;
  if (find_existing(source, actual) != EntryKind::file) return false;
  int from = open(actual.c_str(), O_RDONLY);
  if (from < 0) return false;
  struct stat st;
  bool copied = fstat(from, &st) == 0 &&
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

}  // namespace platform
