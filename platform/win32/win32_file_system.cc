// win32_file_system.cc: the system's files on Windows, whose own lookups
// already ignore letter case.
#include <windows.h>

#include "file_system.h"

namespace platform {
namespace {

// A device or a link may block or lead anywhere: neither is a file here.
EntryKind kind_of(DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::MISSING;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::DIRECTORY;
  const DWORD other = FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
  return (attributes & other) ? EntryKind::OTHER : EntryKind::FILE;
}

class Win32FileSystem : public FileSystem {
 public:
  EntryKind find(const std::string& path, std::string& actual) override {
    EntryKind kind = kind_of(GetFileAttributesA(path.c_str()));
    if (kind != EntryKind::MISSING) actual = path;
    return kind;
  }

  std::unique_ptr<FileReader> open(const std::string& path) override {
    std::string actual;
    if (find(path, actual) != EntryKind::FILE) return nullptr;
    return open_stream(actual);
  }

  bool list(const std::string& path, std::vector<std::string>& names) override {
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') {
      pattern += '\\';
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((pattern + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
      std::string name = entry.cFileName;
      if (name != "." && name != "..") names.push_back(std::move(name));
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return true;
  }

  std::string read_profile_string(const std::string& section,
                                  const std::string& key,
                                  const std::string& def, std::size_t capacity,
                                  const std::string& path) override {
    if (capacity == 0) return std::string();
    std::vector<char> buffer(capacity, '\0');
    DWORD length = GetPrivateProfileStringA(
        section.c_str(), key.c_str(), def.c_str(), buffer.data(),
        static_cast<DWORD>(capacity), path.c_str());
    return std::string(buffer.data(),
                       length < capacity ? length : capacity - 1);
  }
};

}  // namespace

FileSystem& system_files() {
  static Win32FileSystem files;
  return files;
}

}  // namespace platform
