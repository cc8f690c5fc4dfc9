// win32_platform.cc: the platform seam on Windows, through KERNEL32 and
// USER32.
#include <windows.h>

#include <vector>

#include "file_system.h"
#include "platform.h"

namespace platform {

const char SEPARATOR = '\\';

std::string read_profile_string(const std::string& section,
                                const std::string& key, const std::string& def,
                                std::size_t capacity, const std::string& path) {
  return system_files().read_profile_string(section, key, def, capacity, path);
}

std::string profile_location(const std::string& path) {
  if (path.find_first_of("\\/:") != std::string::npos) return path;
  char folder[MAX_PATH + 1] = {};
  UINT length = GetWindowsDirectoryA(folder, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return path;
  std::string result(folder, length);
  if (result.back() != '\\') result += '\\';
  return result + path;
}

bool file_exists(const std::string& path) {
  std::string actual;
  return system_files().find(path, actual) != EntryKind::MISSING;
}

bool current_directory(std::size_t capacity, std::string& directory) {
  std::vector<char> buffer(capacity, '\0');
  DWORD length =
      GetCurrentDirectoryA(static_cast<DWORD>(capacity), buffer.data());
  // Too small a buffer gives the size needed, terminator included.
  if (length == 0 || length >= capacity) return false;
  directory.assign(buffer.data(), length);
  return true;
}

bool delete_file(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

bool readable_file_path(const std::string& path, std::string& actual) {
  return system_files().find(path, actual) == EntryKind::FILE;
}

std::string writable_file_path(const std::string& path) { return path; }

void message_box(const std::string& text, const std::string& title) {
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK);
}

}  // namespace platform
