// case_lookup.cc: each directory is read at most once per process until
// the platform layer itself changes the file system.
#include "case_lookup.h"

#include <dirent.h>
#include <sys/stat.h>

#include <map>
#include <vector>

#include "text/ascii.h"

namespace platform {
namespace {

std::map<std::string, std::vector<std::string>>& listings() {
  static std::map<std::string, std::vector<std::string>> cache;
  return cache;
}

const std::vector<std::string>& directory_listing(const std::string& dir) {
  auto found = listings().find(dir);
  if (found != listings().end()) return found->second;
  std::vector<std::string>& names = listings()[dir];
  if (DIR* d = opendir(dir.empty() ? "." : dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
    closedir(d);
  }
  return names;
}

EntryKind kind_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return EntryKind::MISSING;
  if (S_ISDIR(st.st_mode)) return EntryKind::DIRECTORY;
  return S_ISREG(st.st_mode) ? EntryKind::FILE : EntryKind::OTHER;
}

// The smallest name in `dir` that matches `component`, or false.
bool match_in(const std::string& dir, const std::string& component,
              std::string& match) {
  bool found = false;
  for (const std::string& name : directory_listing(dir)) {
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
bool find_in_existing_folder(const std::string& path, std::string& actual,
                             EntryKind& kind) {
  std::size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string leaf = path.substr(dir.size());
  if (leaf.empty() || leaf == "." || leaf == "..") return false;
  if (!dir.empty() && kind_of(dir) != EntryKind::DIRECTORY) return false;
  std::string match;
  kind = EntryKind::MISSING;
  if (match_in(dir, leaf, match)) {
    actual = dir + match;
    kind = kind_of(actual);
  }
  return true;
}

}  // namespace

EntryKind find_existing(const std::string& path, std::string& actual) {
  if (path.empty()) return EntryKind::MISSING;
  EntryKind kind = kind_of(path);
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
    if (!component.empty() && kind_of(candidate) == EntryKind::MISSING) {
      std::string match;
      if (!match_in(resolved, component, match)) return EntryKind::MISSING;
      candidate = resolved + match;
    }
    resolved = slash < path.size() ? candidate + "/" : candidate;
    pos = slash + 1;
  }
  actual = resolved;
  return kind_of(resolved);
}

void note_file_system_change() { listings().clear(); }

}  // namespace platform
