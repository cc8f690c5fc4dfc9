#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace fuzz {

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
  std::abort();
}

std::string take_line(std::string_view& rest) {
  std::size_t end = rest.find('\n');
  std::string line(rest.substr(0, end));
  rest =
      end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

namespace {

std::string make_scratch_dir() {
  namespace fs = std::filesystem;
  std::random_device random;
  for (;;) {
    fs::path dir =
        fs::temp_directory_path() / ("whlfuzz" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(dir, error)) return dir.string();
    if (error) fail("cannot create the scratch folder", error.message());
  }
}

void remove_scratch_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir(), ignored);
}

}  // namespace

// Never destroyed: the exit handler that removes the folder needs the name
// after static destructors have run.
const std::string& scratch_dir() {
  static const std::string* dir = [] {
    auto* made = new std::string(make_scratch_dir());
    std::atexit(remove_scratch_dir);
    return made;
  }();
  return *dir;
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  check(static_cast<bool>(out), "cannot write a scratch file", path);
}

std::string escaped(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 32 && c < 127 && c != '\\') {
      text += char(c);
    } else {
      text += "\\x";
      text += digits[c >> 4];
      text += digits[c & 15];
    }
  }
  return text;
}

}  // namespace fuzz
