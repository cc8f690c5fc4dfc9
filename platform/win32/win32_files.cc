// win32_files.cc: the installer's file operations on Windows.
#include <windows.h>

#include <string>

#include "platform.h"

namespace platform {
namespace {

// A name beside `path` that this process has not used before.
std::string temporary_name(const std::string& path) {
  static unsigned serial = 0;
  return path + ".~" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++serial);
}

bool flush_to_disk(const std::string& path) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool flushed = FlushFileBuffers(file) != 0;
  return CloseHandle(file) != 0 && flushed;
}

// A link is removed itself: neither call follows one.
void remove_leftover(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileA(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveDirectoryA(path.c_str());
  }
}

}  // namespace

bool write_profile_string(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    path.c_str()) != 0;
}

// The copy is made under a new name, flushed, then moved over the
// destination: the old file stays whole until the new one is.
bool copy_file(const std::string& source, const std::string& destination,
               bool fail_if_exists) {
  if (fail_if_exists &&
      GetFileAttributesA(destination.c_str()) != INVALID_FILE_ATTRIBUTES) {
    return false;
  }
  std::string temporary = temporary_name(destination);
  if (!CopyFileA(source.c_str(), temporary.c_str(), TRUE)) return false;
  DWORD flags =
      MOVEFILE_WRITE_THROUGH | (fail_if_exists ? 0 : MOVEFILE_REPLACE_EXISTING);
  if (flush_to_disk(temporary) &&
      MoveFileExA(temporary.c_str(), destination.c_str(), flags)) {
    return true;
  }
  DeleteFileA(temporary.c_str());
  return false;
}

bool create_directory(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

// CREATE_NEW fails on any name that exists, a link included; closing the
// handle deletes exactly the file it created.
bool probe_file(const std::string& path) {
  remove_leftover(path);
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE | DELETE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_NEW,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                      FILE_FLAG_DELETE_ON_CLOSE,
                  nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace platform
