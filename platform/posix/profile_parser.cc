// profile_parser.cc: the private-profile reading rules. There are no
// comments; the first section of a name and its first key of a name win.
#include "profile_parser.h"

#include "text/ascii.h"
#include "text/profile_line.h"

namespace platform {
namespace {

std::string unquote(std::string_view value) {
  value = value.substr(0, value.find('\0'));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

bool find_profile_value(std::string_view text, std::string_view section,
                        std::string_view key, std::string& value) {
  section = text::trim_profile_text(section);
  key = text::trim_profile_text(key);
  bool in_section = false;
  for (std::size_t pos = 0; pos < text.size();) {
    text::ProfileLine at = text::profile_line_at(text, pos);
    std::string_view line =
        text::trim_profile_text(text.substr(at.begin, at.end - at.begin));
    pos = at.next;
    if (line.empty()) continue;
    std::string_view name, found;
    if (text::section_header(line, name)) {
      if (in_section) return false;  // only the first section of a name
      in_section = text::same_ignoring_case(name, section);
      continue;
    }
    if (!in_section) continue;
    bool has_value = text::split_key_line(line, name, found);
    if (!text::same_ignoring_case(name, key)) continue;
    if (!has_value) return false;
    value = unquote(found);
    return true;
  }
  return false;
}

std::string profile_answer(const std::string* text, std::string_view section,
                           std::string_view key, const std::string& def,
                           std::size_t capacity) {
  std::string value;
  if (!text || !find_profile_value(*text, section, key, value)) {
    std::size_t end = def.find_last_not_of(' ');
    value = def.substr(0, end == std::string::npos ? 0 : end + 1);
  }
  if (capacity == 0) return std::string();
  if (value.size() > capacity - 1) value.resize(capacity - 1);
  return value;
}

}  // namespace platform
