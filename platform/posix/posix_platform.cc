// posix_platform.cc: the platform seam on POSIX systems.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "case_lookup.h"
#include "platform.h"
#include "profile_parser.h"
#include "windows_directory.h"

namespace platform {
namespace {

bool read_whole_file(const std::string& path, std::string& text) {
  std::string actual;
  if (find_existing(path, actual) != EntryKind::FILE) return false;
  std::ifstream in(actual, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in),
              std::istreambuf_iterator<char>());
  return true;
}

std::string cut(std::string text, std::size_t capacity) {
  if (capacity == 0) return std::string();
  if (text.size() > capacity - 1) text.resize(capacity - 1);
  return text;
}

}  // namespace

const char SEPARATOR = '/';

std::string read_profile_string(const std::string& section,
                                const std::string& key, const std::string& def,
                                std::size_t capacity, const std::string& path) {
  std::string text, value;
  if (read_whole_file(profile_file_path(path), text) &&
      find_profile_value(text, section, key, value)) {
    return cut(value, capacity);
  }
  std::size_t end = def.find_last_not_of(' ');
  return cut(def.substr(0, end == std::string::npos ? 0 : end + 1), capacity);
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
