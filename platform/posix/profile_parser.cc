// profile_parser.cc: the private-profile reading rules. Lines end at any
// run of CR and LF; there are no comments; the first section of a name and
// its first key of a name win.
#include "profile_parser.h"

#include "ascii_case.h"

namespace platform {
namespace {

bool is_trimmed(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

// The text between "[" and the last "]", or false for an ordinary line.
bool section_header(std::string_view line, std::string_view& name) {
  if (line.empty() || line[0] != '[') return false;
  std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  name = trim_profile_text(line.substr(1, close - 1));
  return true;
}

std::string unquote(std::string_view value) {
  value = value.substr(0, value.find('\0'));
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
      value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

std::string_view trim_profile_text(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && is_trimmed(text[begin])) ++begin;
  while (end > begin && is_trimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool find_profile_value(std::string_view text, std::string_view section,
                        std::string_view key, std::string& value) {
  section = trim_profile_text(section);
  key = trim_profile_text(key);
  bool in_section = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim_profile_text(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    std::string_view name;
    if (section_header(line, name)) {
      if (in_section) return false;  // only the first section of a name
      in_section = same_name(name, section);
      continue;
    }
    if (!in_section) continue;
    std::size_t equals = line.find('=');
    if (!same_name(trim_profile_text(line.substr(0, equals)), key)) continue;
    if (equals == std::string_view::npos) return false;
    value = unquote(trim_profile_text(line.substr(equals + 1)));
    return true;
  }
  return false;
}

}  // namespace platform
