// test_support.h: temporary folders and files for the unit tests.
#ifndef WHIRLO_TESTS_UNIT_TEST_SUPPORT_H
#define WHIRLO_TESTS_UNIT_TEST_SUPPORT_H

#include <filesystem>
#include <string>

namespace test_support {

/// A fresh folder, removed with everything in it when the object ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The folder's path with a trailing separator, ready as a prefix.
  std::string prefix() const;
  /// Writes `bytes` into the file `name` of the folder; returns its path.
  std::string write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

std::string read_file(const std::string& path);

}  // namespace test_support

#endif  // WHIRLO_TESTS_UNIT_TEST_SUPPORT_H
