// memory_dir.h: a folder of an in-memory file system, used as the tests
// use a temporary folder.
#ifndef WHIRLO_TESTS_UNIT_MEMORY_DIR_H
#define WHIRLO_TESTS_UNIT_MEMORY_DIR_H

#include <string>

#include "memory_files/memory_file_system.h"

namespace test_support {

class MemoryDir {
 public:
  /// `prefix` is the folder's path with its trailing "/".
  MemoryDir(memory_files::MemoryFileSystem& files, std::string prefix)
      : files_(files), prefix_(std::move(prefix)) {
    files_.add_directory(prefix_);
  }

  const std::string& prefix() const { return prefix_; }
  /// Adds the file `name` of the folder; returns its path.
  std::string write(const std::string& name, const std::string& bytes) {
    files_.add_file(prefix_ + name, bytes);
    return prefix_ + name;
  }

 private:
  memory_files::MemoryFileSystem& files_;
  std::string prefix_;
};

}  // namespace test_support

#endif  // WHIRLO_TESTS_UNIT_MEMORY_DIR_H
