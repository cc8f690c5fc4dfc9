// profile_writer.cc: the private-profile writer. Matching follows the
// reader (profile_parser.cc): trimmed lines, a header is "[" ... "]", a
// key line splits at its first "=", names match without regard to case.
#include "profile_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "ascii_case.h"
#include "case_lookup.h"
#include "file_replacement.h"
#include "platform.h"
#include "profile_parser.h"
#include "windows_directory.h"

namespace platform {
namespace {

constexpr char kLineEnd[] = "\r\n";

// One line of the text: its content is [begin, end), the next line starts
// at next (after one CR LF, CR or LF).
struct Line {
  std::size_t begin, end, next;
};

std::vector<Line> split_lines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::size_t next = end;
    if (next < text.size() && text[next] == '\r') ++next;
    if (next < text.size() && text[next] == '\n' &&
        (next == end || text[end] == '\r')) {
      ++next;
    }
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

bool is_header(std::string_view line, std::string_view* name) {
  if (line.empty() || line[0] != '[') return false;
  std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  if (name) *name = trim_profile_text(line.substr(1, close - 1));
  return true;
}

std::string_view content(std::string_view text, const Line& line) {
  return trim_profile_text(text.substr(line.begin, line.end - line.begin));
}

std::string_view drop_leading_blanks(std::string_view value) {
  std::size_t begin = value.find_first_not_of(" \t");
  return begin == std::string_view::npos ? std::string_view()
                                         : value.substr(begin);
}

std::string key_line(std::string_view key, std::string_view value) {
  return std::string(key) + "=" + std::string(value) + kLineEnd;
}

// Text followed by `insertion` at `pos`, with a line end put before it
// when the text there ends in a line without one.
std::string insert_at(std::string_view text, std::size_t pos,
                      const std::string& insertion) {
  std::string result(text.substr(0, pos));
  if (!result.empty() && result.back() != '\n' && result.back() != '\r') {
    result += kLineEnd;
  }
  return result + insertion + std::string(text.substr(pos));
}

std::string replace_line(std::string_view text, const Line& line,
                         std::string_view key_spelling,
                         std::string_view value) {
  return std::string(text.substr(0, line.begin)) + std::string(key_spelling) +
         "=" + std::string(value) + std::string(text.substr(line.end));
}

// Sets the key in the section whose header is lines[header]. The section
// runs to the next header.
std::string edit_section(std::string_view text, const std::vector<Line>& lines,
                         std::size_t header, std::string_view key,
                         std::string_view value) {
  std::size_t last_filled = header;
  for (std::size_t i = header + 1; i < lines.size(); ++i) {
    std::string_view line = content(text, lines[i]);
    if (is_header(line, nullptr)) break;
    if (line.empty()) continue;
    last_filled = i;
    std::size_t equals = line.find('=');
    std::string_view name = trim_profile_text(line.substr(0, equals));
    if (!same_name(name, key)) continue;
    if (equals != std::string_view::npos &&
        trim_profile_text(line.substr(equals + 1)) == value) {
      return std::string(text);  // already holds the value
    }
    return replace_line(text, lines[i], name, value);
  }
  return insert_at(text, lines[last_filled].next, key_line(key, value));
}

// The mode a new file gets: what open() would give with 0666.
mode_t default_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes a temporary file beside `path` and renames it over `path`, so a
// reader sees either the old file or the new one, also after power loss.
bool replace_file(const std::string& path, const std::string& bytes,
                  mode_t mode) {
  FileReplacement replacement(path, mode);
  return replacement.fd() >= 0 && write_all(replacement.fd(), bytes) &&
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
  auto breaks_lines = [](std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) !=
           std::string_view::npos;
  };
  std::string_view name = trim_profile_text(key);
  return !breaks_lines(section) && !breaks_lines(key) &&
         !breaks_lines(value) && !name.empty() &&
         key.find('=') == std::string_view::npos && name[0] != '[' &&
         section.find(']') == std::string_view::npos;
}

std::string edit_profile_text(std::string_view text, std::string_view section,
                              std::string_view key, std::string_view value) {
  section = trim_profile_text(section);
  key = trim_profile_text(key);
  value = drop_leading_blanks(value);
  std::vector<Line> lines = split_lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (is_header(content(text, lines[i]), &name) && same_name(name, section)) {
      return edit_section(text, lines, i, key, value);
    }
  }
  return insert_at(text, text.size(),
                   "[" + std::string(section) + "]" + kLineEnd +
                       key_line(key, value));
}

bool write_profile_string(const std::string& section, const std::string& key,
                          const std::string& value, const std::string& path) {
  if (!profile_write_allowed(section, key, value)) return false;
  std::string target = profile_file_path(path), text;
  mode_t mode = default_file_mode();
  switch (find_existing(target, target)) {
    case EntryKind::directory:
    case EntryKind::other:
      return false;
    case EntryKind::file: {
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
    case EntryKind::missing:
      text = edit_profile_text("", section, key, value);
      break;
  }
  bool replaced = replace_file(target, text, mode);
  note_file_system_change();
  return replaced;
}

}  // namespace platform
