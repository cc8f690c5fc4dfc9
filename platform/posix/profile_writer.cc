// profile_writer.cc: the private-profile writer. Lines are matched with
// the reader's grammar (text/profile_line.h); names match without regard
// to case.
#include "profile_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "case_lookup.h"
#include "file_replacement.h"
#include "platform.h"
#include "text/ascii.h"
#include "text/profile_line.h"
#include "windows_directory.h"

namespace platform {
namespace {

using text::ProfileLine;

std::vector<ProfileLine> split_lines(std::string_view text) {
  std::vector<ProfileLine> lines;
  for (std::size_t pos = 0; pos < text.size(); pos = lines.back().next) {
    lines.push_back(text::profile_line_at(text, pos));
  }
  return lines;
}

std::string_view content(std::string_view text, const ProfileLine& line) {
  return text::trim_profile_text(
      text.substr(line.begin, line.end - line.begin));
}

std::string_view drop_leading_blanks(std::string_view value) {
  std::size_t begin = value.find_first_not_of(" \t");
  return begin == std::string_view::npos ? std::string_view()
                                         : value.substr(begin);
}

// Text followed by `insertion` at `pos`, with a line end put before it
// when the text there ends in a line without one.
std::string insert_at(std::string_view text, std::size_t pos,
                      const std::string& insertion) {
  std::string result(text.substr(0, pos));
  if (!result.empty() && result.back() != '\n' && result.back() != '\r') {
    result += text::PROFILE_LINE_END;
  }
  return result + insertion + std::string(text.substr(pos));
}

std::string replace_line(std::string_view text, const ProfileLine& line,
                         std::string_view key_spelling,
                         std::string_view value) {
  return std::string(text.substr(0, line.begin)) + std::string(key_spelling) +
         "=" + std::string(value) + std::string(text.substr(line.end));
}

// Sets the key in the section whose header is lines[header]. The section
// runs to the next header.
std::string edit_section(std::string_view text,
                         const std::vector<ProfileLine>& lines,
                         std::size_t header, std::string_view key,
                         std::string_view value) {
  std::size_t last_filled = header;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    std::string_view line = content(text, lines[i]);
    std::string_view name, held;
    if (text::section_header(line, name)) break;
    if (line.empty()) continue;
    last_filled = i;
    bool has_value = text::split_key_line(line, name, held);
    if (!text::same_ignoring_case(name, key)) continue;
    if (has_value && held == value) {
      return std::string(text);  // already holds the value
    }
    return replace_line(text, lines[i], name, value);
  }
  return insert_at(text, lines[last_filled].next, text::key_line(key, value));
}

// The mode a new file gets: what open() would give with 0666.
mode_t default_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Writes a temporary file beside `path` and renames it over `path`, so a
// reader sees either the old file or the new one, also after power loss.
bool replace_file(const std::string& path, const std::string& bytes,
                  mode_t mode) {
  FileReplacement replacement(path, mode);
  return replacement.write(bytes.data(), bytes.size()) &&
         replacement.commit(true);
}

bool read_file(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in),
              std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

bool profile_write_allowed(std::string_view section, std::string_view key,
                           std::string_view value) {
  std::string_view name = text::trim_profile_text(key);
  return !text::holds_control_byte(section) && !text::holds_control_byte(key) &&
         !text::holds_control_byte(value) && !name.empty() &&
         key.find('=') == std::string_view::npos && name[0] != '[' &&
         section.find(']') == std::string_view::npos;
}

std::string edit_profile_text(std::string_view text, std::string_view section,
                              std::string_view key, std::string_view value) {
  section = text::trim_profile_text(section);
  key = text::trim_profile_text(key);
  value = drop_leading_blanks(value);
  std::vector<ProfileLine> lines = split_lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (text::section_header(content(text, lines[i]), name) &&
        text::same_ignoring_case(name, section)) {
      return edit_section(text, lines, i, key, value);
    }
  }
  return insert_at(text, text.size(),
                   text::section_line(section) + text::key_line(key, value));
}

bool write_profile_string(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) {
  if (!profile_write_allowed(section, key, value)) return false;
  std::string target = profile_file_path(path), text;
  mode_t mode = default_file_mode();
  switch (find_existing(target, target)) {
    case EntryKind::DIRECTORY:
    case EntryKind::OTHER: return false;
    case EntryKind::FILE: {
      struct stat st;
      if (stat(target.c_str(), &st) != 0 || !read_file(target, text)) {
        return false;
      }
      mode = st.st_mode & 07777;
      std::string edited = edit_profile_text(text, section, key, value);
      if (edited == text) return true;
      text.swap(edited);
      break;
    }
    case EntryKind::MISSING:
      text = edit_profile_text("", section, key, value);
      break;
  }
  bool replaced = replace_file(target, text, mode);
  note_file_system_change();
  return replaced;
}

}  // namespace platform
