// picture_stream.h: one picture file and the body part it becomes.
#ifndef WHIRLO_CGI_PICTURE_STREAM_H
#define WHIRLO_CGI_PICTURE_STREAM_H

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>

#include "platform/file_system.h"

namespace cgi {

enum PictureType : std::int32_t {
  PICTURE_GIF = 0,
  PICTURE_JPEG = 1,
  PICTURE_TIFF = 2
};

/// A picture file opened for reading. `valid` is true when it is a regular
/// file, open, and the path ends, with case, in ".GIF", ".JPG" or ".TIF".
class PictureStream {
 public:
  PictureStream(platform::FileSystem& files, const std::string& path);
  /// The picture in the system's files.
  explicit PictureStream(const std::string& path);

  bool valid = false;
  PictureType type = PICTURE_GIF;

  /// The part's header line without its line end: "Content-type: image/gif".
  std::string header_line() const;
  /// The file's bytes, for a caller that writes the part itself.
  std::unique_ptr<platform::FileReader> take_reader() {
    return std::move(reader_);
  }

 private:
  friend std::ostream& operator<<(std::ostream& out, PictureStream& picture);
  std::unique_ptr<platform::FileReader> reader_;
};

/// Writes the picture's part: its content-type line, an empty line, the
/// file's bytes and the boundary line. Nothing at all when not valid.
std::ostream& operator<<(std::ostream& out, PictureStream& picture);

}  // namespace cgi

#endif  // WHIRLO_CGI_PICTURE_STREAM_H
