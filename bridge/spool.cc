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
  std::string prefix = folder + PATH_SEPARATORS[0] + "cgi.";
  files_ = {prefix + "dat", prefix + "con", prefix + "out"};
  return true;
}

bool write_file(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

BodyResult BodySpool::begin(const std::string& content_length,
                            std::uint64_t max_body, const std::string& path) {
  if (!content_length.empty() &&
      !parse_decimal(content_length, UINT64_MAX, wanted_)) {
    return BodyResult::MALFORMED;
  }
  if (wanted_ > max_body) return BodyResult::TOO_LARGE;
  counting_ = path.empty();
  if (counting_) return BodyResult::OK;
  file_.reset(std::fopen(path.c_str(), "wb"));
  return file_ ? BodyResult::OK : BodyResult::WRITE_FAILED;
}

BodyResult BodySpool::add(const char* data, std::size_t size) {
  if (!file_ && !counting_) return BodyResult::WRITE_FAILED;
  std::size_t take =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, missing()));
  if (file_ && std::fwrite(data, 1, take, file_.get()) != take)
    return BodyResult::WRITE_FAILED;
  length_ += take;
  return BodyResult::OK;
}

BodyResult BodySpool::end() {
  if (counting_) {
    counting_ = false;
  } else if (!file_ || std::fclose(file_.release()) != 0) {
    return BodyResult::WRITE_FAILED;
  }
  return missing() == 0 ? BodyResult::OK : BodyResult::SHORT;
}

BodyResult spool_body(const std::string& content_length, std::uint64_t max_body,
                      std::FILE* in, const std::string& path,
                      std::uint64_t& length) {
  BodySpool spool;
  length = 0;
  BodyResult result = spool.begin(content_length, max_body, path);
  std::vector<char> block(64 * 1024);
  while (result == BodyResult::OK && spool.missing() > 0) {
    std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(block.size(), spool.missing()));
    std::size_t got = std::fread(block.data(), 1, want, in);
    if (got == 0) break;
    result = spool.add(block.data(), got);
  }
  BodyResult ended = spool.end();
  length = spool.length();
  return result == BodyResult::OK ? ended : result;
}

}  // namespace bridge
