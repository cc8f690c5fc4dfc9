#include "picture_stream.h"

#include <array>

#include "platform/platform.h"
#include "text/product.h"

namespace cgi {
namespace {

constexpr std::size_t COPY_BLOCK = 32768;

const char* const MIME_TYPES[] = {"image/gif", "image/jpeg", "image/tif"};
const char* const EXTENSIONS[] = {".GIF", ".JPG", ".TIF"};

}  // namespace

PictureStream::PictureStream(const std::string& path) {
  std::string actual;
  if (platform::readable_file_path(path, actual)) {
    open(actual, std::ios::in | std::ios::binary);
  }
  if (!is_open()) return;
  std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : path;
  for (PictureType t : {PICTURE_GIF, PICTURE_JPEG, PICTURE_TIFF}) {
    if (tail == EXTENSIONS[t]) {
      type = t;
      valid = true;
      return;
    }
  }
}

PictureStream::~PictureStream() { close(); }

std::ostream& operator<<(std::ostream& out, PictureStream& picture) {
  if (!picture.valid) return out;
  out << "Content-type: " << MIME_TYPES[picture.type] << "\n\n";
  std::array<char, COPY_BLOCK> block;
  std::streamsize got;
  do {
    picture.read(block.data(), block.size());
    got = picture.gcount();
    out.write(block.data(), got);
  } while (got > 0);
  out << WHIRLO_PART_END;
  return out;
}

}  // namespace cgi
