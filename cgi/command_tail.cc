#include "command_tail.h"

namespace cgi {
namespace {

bool is_separator(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

std::string skip_separators(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size() && is_separator(text[pos])) ++pos;
  return text.substr(pos);
}

std::string command_tail(const std::string& command_line) {
  std::size_t pos = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    std::size_t close = command_line.find('"', 1);
    pos = close == std::string::npos ? command_line.size() : close + 1;
  } else {
    while (pos < command_line.size() &&
           static_cast<unsigned char>(command_line[pos]) > 32) {
      ++pos;
    }
  }
  return skip_separators(command_line.substr(pos));
}

std::string data_file_path(const std::string& tail) {
  return tail.substr(0, tail.find(' '));
}

}  // namespace cgi
