#include "profile_line.h"

namespace text {
namespace {

bool is_trimmed(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

}  // namespace

ProfileLine profile_line_at(std::string_view text, std::size_t pos) {
  std::size_t end = text.find_first_of("\r\n", pos);
  if (end == std::string_view::npos) end = text.size();
  std::size_t next = end;
  if (next < text.size() && text[next] == '\r') ++next;
  if (next < text.size() && text[next] == '\n' &&
      (next == end || text[end] == '\r')) {
    ++next;
  }
  return {pos, end, next};
}

std::string_view trim_profile_text(std::string_view s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && is_trimmed(s[begin])) ++begin;
  while (end > begin && is_trimmed(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

bool section_header(std::string_view line, std::string_view& name) {
  if (line.empty() || line[0] != '[') return false;
  std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  name = trim_profile_text(line.substr(1, close - 1));
  return true;
}

bool split_key_line(std::string_view line, std::string_view& name,
                    std::string_view& value) {
  std::size_t equals = line.find('=');
  name = trim_profile_text(line.substr(0, equals));
  if (equals == std::string_view::npos) {
    value = std::string_view();
    return false;
  }
  value = trim_profile_text(line.substr(equals + 1));
  return true;
}

bool holds_control_byte(std::string_view s) {
  for (char c : s) {
    if (is_control_byte(c)) return true;
  }
  return false;
}

std::string section_line(std::string_view name) {
  return "[" + std::string(name) + "]" + PROFILE_LINE_END;
}

std::string key_line(std::string_view key, std::string_view value) {
  return std::string(key) + "=" + std::string(value) + PROFILE_LINE_END;
}

}  // namespace text
