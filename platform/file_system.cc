// file_system.cc: what every file system does the same way.
#include "file_system.h"

#include <fstream>

namespace platform {
namespace {

class StreamReader : public FileReader {
 public:
  explicit StreamReader(const std::string& path)
      : in_(path, std::ios::in | std::ios::binary) {}
  bool is_open() const { return in_.is_open(); }
  std::size_t read(char* block, std::size_t size) override {
    in_.read(block, static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in_.gcount());
  }

 private:
  std::ifstream in_;
};

}  // namespace

std::unique_ptr<FileReader> open_stream(const std::string& actual) {
  auto reader = std::make_unique<StreamReader>(actual);
  if (!reader->is_open()) return nullptr;
  return reader;
}

bool FileSystem::read_whole(const std::string& path, std::string& bytes) {
  std::unique_ptr<FileReader> reader = open(path);
  if (!reader) return false;
  bytes.clear();
  char block[32768];
  while (std::size_t got = reader->read(block, sizeof block)) {
    bytes.append(block, got);
  }
  return true;
}

}  // namespace platform
