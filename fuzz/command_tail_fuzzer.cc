// The command-line tail rules on an arbitrary command line.
//
// Checked: the tail is a suffix of the line and starts with no byte 1 to
// 32; what was skipped is a program name (quoted, or bytes above 32)
// followed by separators only; the data-file path is the tail up to its
// first blank; skip_separators is idempotent and agrees with the tail.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cgi/command_tail.h"
#include "fuzz_support.h"

namespace {

bool is_separator(unsigned char c) { return c >= 1 && c <= 32; }

// The length of the program name that the rules skip.
std::size_t program_name_length(const std::string& line) {
  if (!line.empty() && line[0] == '"') {
    std::size_t close = line.find('"', 1);
    return close == std::string::npos ? line.size() : close + 1;
  }
  std::size_t n = 0;
  while (n < line.size() && static_cast<unsigned char>(line[n]) > 32) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string detail = "line \"" + fuzz::escaped(line) + "\"";

  std::string tail = cgi::command_tail(line);
  fuzz::check(
      tail.size() <= line.size() &&
          line.compare(line.size() - tail.size(), tail.size(), tail) == 0,
      "the tail is a suffix of the line", detail);
  fuzz::check(tail.empty() || !is_separator(tail[0]),
              "the tail starts after the separators", detail);

  std::size_t name = program_name_length(line);
  std::size_t skipped = line.size() - tail.size();
  fuzz::check(skipped >= name, "the program name is skipped whole", detail);
  for (std::size_t i = name; i < skipped; ++i) {
    fuzz::check(is_separator(line[i]), "only separators follow the name",
                detail);
  }

  fuzz::check(cgi::skip_separators(tail) == tail,
              "skipping separators twice changes nothing", detail);
  fuzz::check(cgi::skip_separators(line.substr(name)) == tail,
              "the tail is the rest less its separators", detail);

  std::string path = cgi::data_file_path(tail);
  fuzz::check(path.find(' ') == std::string::npos,
              "the data-file path holds no blank", detail);
  fuzz::check(tail.compare(0, path.size(), path) == 0,
              "the data-file path is a prefix of the tail", detail);
  fuzz::check(path.size() == tail.size() || tail[path.size()] == ' ',
              "the data-file path ends at the first blank", detail);
  return 0;
}
