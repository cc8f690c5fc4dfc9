// The private-profile reader on arbitrary file text with an arbitrary
// section and key. Input: one byte of capacity, then the section, the key
// and the default, each ended by a line feed, then the file's text.
//
// Checked: a value is one piece of the text with no line end or NUL in it;
// the answer does not change when the names change letter case or gain
// blanks, when LF line ends become CR LF, or when a later section of the
// same name follows; reading the text as a file through a file system
// gives the value or the default cut to capacity - 1 characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "memory_files/memory_file_system.h"
#include "platform/posix/profile_parser.h"

namespace {

struct Lookup {
  bool found = false;
  std::string value;
  bool operator==(const Lookup& other) const {
    return found == other.found && (!found || value == other.value);
  }
};

Lookup lookup(std::string_view text, std::string_view section,
              std::string_view key) {
  Lookup result;
  result.found = platform::find_profile_value(text, section, key, result.value);
  return result;
}

std::string flip_case(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z')
      c = char(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z')
      c = char(c - 'A' + 'a');
  }
  return text;
}

std::string crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string cut(std::string text, std::size_t capacity) {
  if (capacity == 0) return std::string();
  if (text.size() > capacity - 1) text.resize(capacity - 1);
  return text;
}

const char PROFILE_PATH[] = "/etc/fuzz.ini";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  std::size_t capacity = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string section = fuzz::take_line(rest);
  const std::string key = fuzz::take_line(rest);
  const std::string def = fuzz::take_line(rest);
  const std::string text(rest);
  const std::string detail = "section \"" + fuzz::escaped(section) +
                             "\" key \"" + fuzz::escaped(key) + "\" text \"" +
                             fuzz::escaped(text.substr(0, 2000)) + "\"";

  Lookup plain = lookup(text, section, key);
  if (plain.found) {
    fuzz::check(plain.value.find_first_of(std::string("\r\n\0", 3)) ==
                    std::string::npos,
                "a value holds no line end and no NUL", detail);
    fuzz::check(text.find(plain.value) != std::string::npos,
                "a value is a piece of the text", detail);
  }
  fuzz::check(lookup(text, flip_case(section), flip_case(key)) == plain,
              "names match without regard to letter case", detail);
  fuzz::check(lookup(text, " \t" + section + " ", "\x1a" + key + "\t") == plain,
              "the caller's names are trimmed", detail);
  fuzz::check(lookup(crlf(text), section, key) == plain,
              "LF and CR LF line ends read the same", detail);
  if (plain.found) {
    std::string later = text + "\n[" + section + "]\n" + key + "=later\n";
    fuzz::check(lookup(later, section, key) == plain,
                "the first section of a name wins", detail);
  }

  static memory_files::MemoryFileSystem files;
  files.add_file(PROFILE_PATH, text);
  std::string read =
      files.read_profile_string(section, key, def, capacity, PROFILE_PATH);
  std::string expected;
  if (plain.found) {
    expected = cut(plain.value, capacity);
  } else {
    std::size_t end = def.find_last_not_of(' ');
    expected =
        cut(def.substr(0, end == std::string::npos ? 0 : end + 1), capacity);
  }
  fuzz::check(read == expected, "the platform reads the file's value",
              detail + " read \"" + fuzz::escaped(read) + "\"");
  return 0;
}
