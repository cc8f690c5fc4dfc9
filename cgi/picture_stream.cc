#include "picture_stream.h"

#include <array>

#include "text/product.h"

namespace cgi {
namespace {

constexpr std::size_t COPY_BLOCK = 32768;

const char* const MIME_TYPES[] = {"image/gif", "image/jpeg", "image/tif"};
const char* const EXTENSIONS[] = {".GIF", ".JPG", ".TIF"};

}  // namespace

PictureStream::PictureStream(platform::FileSystem& files,
                             const std::string& path)
    : reader_(files.open(path)) {
  if (!reader_) return;
  std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : path;
  for (PictureType t : {PICTURE_GIF, PICTURE_JPEG, PICTURE_TIFF}) {
    if (tail == EXTENSIONS[t]) {
      type = t;
      valid = true;
      return;
    }
  }
}

PictureStream::PictureStream(const std::string& path)
    : PictureStream(platform::system_files(), path) {}

std::string PictureStream::header_line() const {
  return std::string("Content-type: ") + MIME_TYPES[type];
}

std::ostream& operator<<(std::ostream& out, PictureStream& picture) {
  if (!picture.valid) return out;
  out << "Content-type: " << MIME_TYPES[picture.type] << "\n\n";
  std::array<char, COPY_BLOCK> block;
  while (std::size_t got = picture.reader_->read(block.data(), block.size())) {
    out.write(block.data(), static_cast<std::streamsize>(got));
  }
  out << WHIRLO_PART_END;
  return out;
}

}  // namespace cgi
