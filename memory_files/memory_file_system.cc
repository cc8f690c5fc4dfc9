// memory_file_system.cc: entries keyed by their components joined with one
// '/', "." being the current directory and "/" the root.
#include "memory_file_system.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/profile_parser.h"
#include "text/ascii.h"

namespace memory_files {
namespace {

using platform::EntryKind;

std::vector<std::string> components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    if (slash > pos) parts.push_back(path.substr(pos, slash - pos));
    pos = slash + 1;
  }
  return parts;
}

std::string join(const std::string& dir, const std::string& leaf) {
  if (dir == ".") return leaf;
  if (dir == "/") return "/" + leaf;
  return dir + "/" + leaf;
}

// "." for a key without '/', "/" for one just below the root.
std::string parent_of(const std::string& key) {
  std::size_t slash = key.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : key.substr(0, slash);
}

// Names that are stored as they are written: no empty, "." or ".."
// component and no trailing '/'.
bool is_plain(const std::string& path) {
  if (path.empty() || path.back() == '/' ||
      path.find("//") != std::string::npos) {
    return false;
  }
  std::size_t pos = path[0] == '/' ? 1 : 0;
  while (pos < path.size()) {
    std::size_t slash = std::min(path.find('/', pos), path.size());
    std::size_t length = slash - pos;
    if (path[pos] == '.' &&
        (length == 1 || (length == 2 && path[pos + 1] == '.'))) {
      return false;
    }
    pos = slash + 1;
  }
  return true;
}

std::string root_of(const std::string& path) {
  return !path.empty() && path[0] == '/' ? "/" : ".";
}

class BufferReader : public platform::FileReader {
 public:
  explicit BufferReader(std::shared_ptr<const std::string> bytes)
      : bytes_(std::move(bytes)) {}
  std::size_t read(char* block, std::size_t size) override {
    std::size_t n = std::min(size, bytes_->size() - at_);
    std::memcpy(block, bytes_->data() + at_, n);
    at_ += n;
    return n;
  }

 private:
  std::shared_ptr<const std::string> bytes_;
  std::size_t at_ = 0;
};

}  // namespace

bool MemoryFileSystem::add(const std::string& path, Entry entry) {
  std::string dir = root_of(path);
  std::vector<std::string> parts = components(path);
  if (parts.empty()) return false;
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    std::string key = join(dir, parts[i]);
    auto found = entries_.find(key);
    if (found == entries_.end()) {
      entries_[key] = Entry{EntryKind::DIRECTORY, nullptr};
      children_[dir][text::lower_case(parts[i])].insert(parts[i]);
    } else if (found->second.kind != EntryKind::DIRECTORY) {
      return false;
    }
    dir = key;
  }
  std::string key = join(dir, parts.back());
  auto found = entries_.find(key);
  if (found != entries_.end() && found->second.kind == EntryKind::DIRECTORY &&
      entry.kind != EntryKind::DIRECTORY) {
    return false;
  }
  entries_[key] = std::move(entry);
  children_[dir][text::lower_case(parts.back())].insert(parts.back());
  return true;
}

bool MemoryFileSystem::add_file(const std::string& path, std::string bytes) {
  return add(path, Entry{EntryKind::FILE, std::make_shared<const std::string>(
                                              std::move(bytes))});
}

bool MemoryFileSystem::add_directory(const std::string& path) {
  return add(path, Entry{EntryKind::DIRECTORY, nullptr});
}

bool MemoryFileSystem::add_other(const std::string& path) {
  return add(path, Entry{EntryKind::OTHER, nullptr});
}

void MemoryFileSystem::remove(const std::string& path) {
  std::string key;
  if (!resolve(path, key) || key == "." || key == "/") return;
  std::size_t slash = key.rfind('/');
  std::string leaf = key.substr(slash == std::string::npos ? 0 : slash + 1);
  Folder& folder = children_[parent_of(key)];
  auto names = folder.find(text::lower_case(leaf));
  names->second.erase(leaf);
  if (names->second.empty()) folder.erase(names);
  const std::string below = key + "/";
  for (auto it = entries_.begin(); it != entries_.end();) {
    bool under =
        it->first == key || it->first.compare(0, below.size(), below) == 0;
    it = under ? entries_.erase(it) : std::next(it);
  }
  for (auto it = children_.begin(); it != children_.end();) {
    bool under =
        it->first == key || it->first.compare(0, below.size(), below) == 0;
    it = under ? children_.erase(it) : std::next(it);
  }
}

// The entry `part` names in the folder `dir`: the exact name, else the
// smallest that differs only in case.
const MemoryFileSystem::Entry* MemoryFileSystem::child(const std::string& dir,
                                                       const std::string& part,
                                                       std::string& key) const {
  auto found = entries_.find(join(dir, part));
  if (found == entries_.end()) {
    auto folder = children_.find(dir);
    if (folder == children_.end()) return nullptr;
    auto names = folder->second.find(text::lower_case(part));
    if (names == folder->second.end()) return nullptr;
    found = entries_.find(join(dir, *names->second.begin()));
  }
  key = found->first;
  return &found->second;
}

// The entry `path` names, with the key it is stored under; null when none.
const MemoryFileSystem::Entry* MemoryFileSystem::resolve(
    const std::string& path, std::string& key) const {
  static const Entry ROOT{EntryKind::DIRECTORY, nullptr};
  if (is_plain(path)) {
    // The common case: the folder is named as stored, so only the leaf
    // may differ in case.
    auto found = entries_.find(path);
    if (found != entries_.end()) {
      key = path;
      return &found->second;
    }
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "."
                      : slash == 0               ? "/"
                                                 : path.substr(0, slash);
    auto folder = entries_.find(dir);
    if (dir == "." || dir == "/" ||
        (folder != entries_.end() &&
         folder->second.kind == EntryKind::DIRECTORY)) {
      return child(dir, path.substr(slash + 1), key);
    }
  }
  key = root_of(path);
  const Entry* entry = &ROOT;
  for (const std::string& part : components(path)) {
    if (entry->kind != EntryKind::DIRECTORY) return nullptr;
    if (part == ".") continue;
    if (part == "..") {
      // Nothing lies above the root or the current directory.
      key = parent_of(key);
      entry = key == "." || key == "/" ? &ROOT : &entries_.find(key)->second;
      continue;
    }
    const std::string dir = key;
    entry = child(dir, part, key);
    if (!entry) return nullptr;
  }
  return entry;
}

EntryKind MemoryFileSystem::find(const std::string& path, std::string& actual) {
  if (path.empty()) return EntryKind::MISSING;
  std::string key;
  const Entry* entry = resolve(path, key);
  if (!entry) return EntryKind::MISSING;
  actual = key == "." ? path : key;
  if (path.back() == '/' && actual.back() != '/') actual += '/';
  return entry->kind;
}

std::unique_ptr<platform::FileReader> MemoryFileSystem::open(
    const std::string& path) {
  std::string key;
  const Entry* entry = path.empty() ? nullptr : resolve(path, key);
  if (!entry || entry->kind != EntryKind::FILE) return nullptr;
  ++opened_;
  return std::make_unique<BufferReader>(entry->bytes);
}

bool MemoryFileSystem::list(const std::string& path,
                            std::vector<std::string>& names) {
  std::string key;
  const Entry* entry = resolve(path.empty() ? "." : path, key);
  if (!entry || entry->kind != EntryKind::DIRECTORY) return false;
  auto found = children_.find(key);
  if (found == children_.end()) return true;
  for (const auto& same : found->second) {
    names.insert(names.end(), same.second.begin(), same.second.end());
  }
  return true;
}

std::string MemoryFileSystem::read_profile_string(const std::string& section,
                                                  const std::string& key,
                                                  const std::string& def,
                                                  std::size_t capacity,
                                                  const std::string& path) {
  std::string text;
  bool read = read_whole(path, text);
  return platform::profile_answer(read ? &text : nullptr, section, key, def,
                                  capacity);
}

}  // namespace memory_files
