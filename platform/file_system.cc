// file_system.cc: what every file system does the same way.
#include "file_system.h"

namespace platform {

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
