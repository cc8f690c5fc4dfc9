#include "ini_text.h"

#include <cctype>

#include "text/ascii.h"
#include "text/profile_line.h"

namespace bridge {
namespace {

std::string trim(const std::string& s) {
  return std::string(text::trim_blanks(s));
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(separator, start);
    pieces.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return pieces;
    start = end + 1;
  }
}

// A media type may hold visible characters other than those that would
// change the meaning of an INI line.
bool valid_media_type(const std::string& type) {
  if (type.empty()) return false;
  for (unsigned char c : type) {
    if (c <= ' ' || c >= 127 || c == '=' || c == '[' || c == ']') return false;
  }
  return true;
}

int base64_digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool decode_base64(const std::string& text, std::string& bytes) {
  std::size_t length = text.size();
  while (length > 0 && text[length - 1] == '=') --length;
  if (text.size() % 4 != 0 || text.size() - length > 2) return false;
  unsigned bits = 0;
  int count = 0;
  for (std::size_t i = 0; i < length; ++i) {
    int digit = base64_digit(text[i]);
    if (digit < 0) return false;
    bits = (bits << 6) | static_cast<unsigned>(digit);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return true;
}

}  // namespace

std::string clean_value(const std::string& value) {
  std::string result = value.substr(0, MAX_VALUE_BYTES);
  for (char& c : result) {
    if (text::is_control_byte(c)) c = ' ';
  }
  return result;
}

std::string header_key(const std::string& variable) {
  const std::string prefix = "HTTP_";
  if (variable.compare(0, prefix.size(), prefix) != 0 ||
      variable.size() == prefix.size()) {
    return std::string();
  }
  std::string key;
  bool word_start = true;
  for (std::size_t i = prefix.size(); i < variable.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(variable[i]);
    if (c == '_') {
      key += '-';
      word_start = true;
    } else if (std::isalnum(c)) {
      key += word_start ? text::to_upper(char(c)) : text::to_lower(char(c));
      word_start = false;
    } else {
      return std::string();
    }
  }
  return key;
}

std::vector<std::pair<std::string, std::string>> accept_entries(
    const std::string& accept) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const std::string& item : split(accept, ',')) {
    std::vector<std::string> fields = split(item, ';');
    std::string type = trim(fields[0]);
    if (!valid_media_type(type)) continue;
    bool repeated = false;
    for (const auto& entry : entries) repeated |= entry.first == type;
    if (repeated) continue;
    std::string params;
    for (std::size_t i = 1; i < fields.size(); ++i) {
      std::string param = trim(fields[i]);
      if (param.empty()) continue;
      if (!params.empty()) params += ';';
      params += param;
    }
    entries.emplace_back(type, params.empty() ? "Yes" : clean_value(params));
  }
  return entries;
}

bool basic_credentials(const std::string& authorization, std::string& user,
                       std::string& password) {
  std::string field = trim(authorization);
  std::size_t blank = field.find(' ');
  if (blank == std::string::npos) return false;
  std::string decoded;
  if (!text::same_ignoring_case(field.substr(0, blank), "basic") ||
      !decode_base64(trim(field.substr(blank + 1)), decoded))
    return false;
  std::size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  user = decoded.substr(0, colon);
  password = decoded.substr(colon + 1);
  return true;
}

}  // namespace bridge
