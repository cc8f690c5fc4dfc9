// memory_file_system.h: a file system held in memory, for the unit tests
// and the fuzz targets: the core's lookups and reads without a system call.
#ifndef WHIRLO_MEMORY_FILES_MEMORY_FILE_SYSTEM_H
#define WHIRLO_MEMORY_FILES_MEMORY_FILE_SYSTEM_H

#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"

namespace memory_files {

/// Names are '/'-separated, absolute or relative to one current directory;
/// empty components are skipped and a trailing '/' is allowed. Lookups
/// ignore ASCII letter case as the POSIX one does (exact name first, then
/// the byte-wise smallest match in each directory). A profile path is used
/// as it stands: no bare name stands for a file in another directory.
class MemoryFileSystem : public platform::FileSystem {
 public:
  /// Adds or replaces a regular file, and the directories above it. False
  /// when a name on the way is taken by something other than a directory.
  bool add_file(const std::string& path, std::string bytes);
  /// Adds a directory and those above it; false as for add_file.
  bool add_directory(const std::string& path);
  /// Adds an entry that is neither file nor directory (a pipe, a device).
  bool add_other(const std::string& path);
  /// Removes the entry at the exact name, and all below it.
  void remove(const std::string& path);

  platform::EntryKind find(const std::string& path,
                           std::string& actual) override;
  std::unique_ptr<platform::FileReader> open(const std::string& path) override;
  bool list(const std::string& path, std::vector<std::string>& names) override;
  std::string read_profile_string(const std::string& section,
                                  const std::string& key,
                                  const std::string& def, std::size_t capacity,
                                  const std::string& path) override;

  /// How many files open() has handed out.
  std::size_t opened() const { return opened_; }

 private:
  struct Entry {
    platform::EntryKind kind;
    std::shared_ptr<const std::string> bytes;  // files only
  };

  // A folder's names by their lower-case form, several for names that
  // differ only in case.
  using Folder = std::unordered_map<std::string, std::set<std::string>>;

  bool add(const std::string& path, Entry entry);
  const Entry* resolve(const std::string& path, std::string& key) const;
  const Entry* child(const std::string& dir, const std::string& part,
                     std::string& key) const;

  // Hashed: a lookup compares whole names once, not along a tree.
  std::unordered_map<std::string, Entry> entries_;    // by key
  std::unordered_map<std::string, Folder> children_;  // folder key -> names
  std::size_t opened_ = 0;
};

}  // namespace memory_files

#endif  // WHIRLO_MEMORY_FILES_MEMORY_FILE_SYSTEM_H
