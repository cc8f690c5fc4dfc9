#include "spool.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "os.h"
#include "settings.h"

namespace bridge {
namespace {

bool printable_path(const std::string& path) {
  for (unsigned char c : path) {
    if (c <= ' ' || c == 127) return false;
  }
  return !path.empty();
}

}  // namespace

Spool::~Spool() {
  if (!folder_.empty()) remove_tree(folder_);
}

bool Spool::create(const std::string& root) {
  std::string folder;
  if (!make_private_folder(root, folder)) return false;
  folder_ = folder;
  if (!printable_path(folder)) return false;
  std::string prefix = folder + kPathSeparators[0] + "cgi.";
  files_ = {prefix + "dat", prefix + "con", prefix + "out"};
  return true;
}

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

BodyResult spool_body(const std::string& content_length, std::uint64_t max_body,
                      std::FILE* in, const std::string& path,
                      std::uint64_t& length) {
  length = 0;
  std::uint64_t wanted = 0;
  if (!content_length.empty() &&
      !parse_decimal(content_length, UINT64_MAX, wanted)) {
    return BodyResult::kMalformed;
  }
  if (wanted > max_body) return BodyResult::kTooLarge;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return BodyResult::kWriteFailed;
  std::vector<char> block(64 * 1024);
  BodyResult result = BodyResult::kOk;
  while (length < wanted) {
    std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(block.size(), wanted - length));
    std::size_t got = std::fread(block.data(), 1, want, in);
    if (got == 0) {
      result = BodyResult::kShort;
      break;
    }
    if (std::fwrite(block.data(), 1, got, out) != got) {
      result = BodyResult::kWriteFailed;
      break;
    }
    length += got;
  }
  if (std::fclose(out) != 0 && result == BodyResult::kOk)
    result = BodyResult::kWriteFailed;
  return result;
}

}  // namespace bridge
