// posix_platform.cc: the platform seam on POSIX systems.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <vector>

#include "case_lookup.h"
#include "platform.h"
#include "windows_directory.h"

namespace platform {

const char SEPARATOR = '/';

std::string read_profile_string(const std::string& section,
                                const std::string& key, const std::string& def,
                                std::size_t capacity, const std::string& path) {
  return system_files().read_profile_string(section, key, def, capacity, path);
}

std::string profile_location(const std::string& path) {
  return profile_file_path(path);
}

bool file_exists(const std::string& path) {
  std::string actual;
  return find_existing(path, actual) != EntryKind::MISSING;
}

bool current_directory(std::size_t capacity, std::string& directory) {
  std::vector<char> buffer(capacity + 1);
  if (!getcwd(buffer.data(), buffer.size())) return false;
  directory = buffer.data();
  return directory.size() < capacity;
}

bool delete_file(const std::string& path) {
  std::string actual;
  if (find_existing(path, actual) != EntryKind::FILE) return false;
  note_file_system_change();
  return std::remove(actual.c_str()) == 0;
}

bool readable_file_path(const std::string& path, std::string& actual) {
  return find_existing(path, actual) == EntryKind::FILE;
}

std::string writable_file_path(const std::string& path) {
  std::string actual;
  if (find_existing(path, actual) == EntryKind::FILE) return actual;
  note_file_system_change();
  return path;
}

void message_box(const std::string& text, const std::string& title) {
  std::cerr << title << ": " << text << std::endl;
}

}  // namespace platform
