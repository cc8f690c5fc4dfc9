// posix_file_system.cc: case-insensitive lookup over cached directory
// listings, and plain reads through standard file streams.
#include "posix_file_system.h"

#include <dirent.h>
#include <sys/stat.h>

#include "case_lookup.h"
#include "profile_parser.h"
#include "text/ascii.h"
#include "windows_directory.h"

namespace platform {
namespace {

EntryKind kind_of_entry(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return EntryKind::MISSING;
  if (S_ISDIR(st.st_mode)) return EntryKind::DIRECTORY;
  return S_ISREG(st.st_mode) ? EntryKind::FILE : EntryKind::OTHER;
}

}  // namespace

bool read_directory(const std::string& dir, std::vector<std::string>& names) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return false;
  while (dirent* entry = readdir(d)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  closedir(d);
  return true;
}

EntryKind PosixFileSystem::entry_kind(const std::string& path) {
  return kind_of_entry(path);
}

const std::vector<std::string>& PosixFileSystem::listing(
    const std::string& dir) {
  auto found = listings_.find(dir);
  if (found != listings_.end()) return found->second;
  std::vector<std::string>& names = listings_[dir];
  read_directory(dir, names);
  return names;
}

// The smallest name in `dir` that matches `component`, or false.
bool PosixFileSystem::match_in(const std::string& dir,
                               const std::string& component,
                               std::string& match) {
  bool found = false;
  for (const std::string& name : listing(dir)) {
    if (text::same_ignoring_case(name, component) && (!found || name < match)) {
      match = name;
      found = true;
    }
  }
  return found;
}

// The common case, settled with one listing: the folder exists as written,
// so only the last name can differ in letter case. False when the folder
// itself needs the component-wise walk.
bool PosixFileSystem::find_in_existing_folder(const std::string& path,
                                              std::string& actual,
                                              EntryKind& kind) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string leaf = path.substr(dir.size());
  if (leaf.empty() || leaf == "." || leaf == "..") return false;
  if (!dir.empty() && entry_kind(dir) != EntryKind::DIRECTORY) return false;
  std::string match;
  kind = EntryKind::MISSING;
  if (match_in(dir, leaf, match)) {
    actual = dir + match;
    kind = entry_kind(actual);
  }
  return true;
}

EntryKind PosixFileSystem::find(const std::string& path, std::string& actual) {
  if (path.empty()) return EntryKind::MISSING;
  EntryKind kind = entry_kind(path);
  if (kind != EntryKind::MISSING) {
    actual = path;
    return kind;
  }
  if (find_in_existing_folder(path, actual, kind)) return kind;
  std::string resolved;  // the directory reached so far, "" for "."
  std::size_t pos = 0;
  if (path[0] == '/') {
    resolved = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    std::string component = path.substr(pos, slash - pos);
    std::string candidate = resolved + component;
    if (!component.empty() && entry_kind(candidate) == EntryKind::MISSING) {
      std::string match;
      if (!match_in(resolved, component, match)) return EntryKind::MISSING;
      candidate = resolved + match;
    }
    resolved = slash < path.size() ? candidate + "/" : candidate;
    pos = slash + 1;
  }
  actual = resolved;
  return entry_kind(resolved);
}

std::unique_ptr<FileReader> PosixFileSystem::open(const std::string& path) {
  std::string actual;
  if (find(path, actual) != EntryKind::FILE) return nullptr;
  return open_stream(actual);
}

bool PosixFileSystem::list(const std::string& path,
                           std::vector<std::string>& names) {
  return read_directory(path, names);
}

std::string PosixFileSystem::read_profile_string(const std::string& section,
                                                 const std::string& key,
                                                 const std::string& def,
                                                 std::size_t capacity,
                                                 const std::string& path) {
  std::string text;
  bool read = read_whole(profile_file_path(path), text);
  return profile_answer(read ? &text : nullptr, section, key, def, capacity);
}

FileSystem& system_files() {
  static PosixFileSystem files;
  return files;
}

EntryKind find_existing(const std::string& path, std::string& actual) {
  return system_files().find(path, actual);
}

void note_file_system_change() { system_files().note_change(); }

}  // namespace platform
