// posix_file_system.h: the system's files on POSIX, found without regard to
// ASCII letter case, as Windows file systems do.
#ifndef WHIRLO_PLATFORM_POSIX_POSIX_FILE_SYSTEM_H
#define WHIRLO_PLATFORM_POSIX_POSIX_FILE_SYSTEM_H

#include <map>
#include <string>
#include <vector>

#include "file_system.h"

namespace platform {

/// The names in `dir` ("" for the current directory) without "." and "..".
/// False when it cannot be listed.
bool read_directory(const std::string& dir, std::vector<std::string>& names);

/// Each directory is listed at most once until note_change().
class PosixFileSystem : public FileSystem {
 public:
  EntryKind find(const std::string& path, std::string& actual) override;
  std::unique_ptr<FileReader> open(const std::string& path) override;
  bool list(const std::string& path, std::vector<std::string>& names) override;
  std::string read_profile_string(const std::string& section,
                                  const std::string& key,
                                  const std::string& def, std::size_t capacity,
                                  const std::string& path) override;
  void note_change() override { listings_.clear(); }

 protected:
  /// What is at exactly `path` (links followed).
  virtual EntryKind entry_kind(const std::string& path);
  /// The names in `dir` ("" for the current directory), listed once.
  virtual const std::vector<std::string>& listing(const std::string& dir);

 private:
  bool match_in(const std::string& dir, const std::string& component,
                std::string& match);
  bool find_in_existing_folder(const std::string& path, std::string& actual,
                               EntryKind& kind);

  std::map<std::string, std::vector<std::string>> listings_;
};

}  // namespace platform

#endif  // WHIRLO_PLATFORM_POSIX_POSIX_FILE_SYSTEM_H
