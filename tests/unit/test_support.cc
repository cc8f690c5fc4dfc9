#include "test_support.h"

#include <fstream>
#include <iterator>
#include <random>

namespace test_support {

TempDir::TempDir() {
  std::random_device seed;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  do {
    path_ = base / ("whirlo-test-" + std::to_string(seed()));
  } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::prefix() const { return path_.string() + "/"; }

std::string TempDir::write(const std::string& name,
                           const std::string& bytes) const {
  std::string path = prefix() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

}  // namespace test_support
