// picture_stream.h: one picture file and the body part it becomes.
#ifndef WHIRLO_CGI_PICTURE_STREAM_H
#define WHIRLO_CGI_PICTURE_STREAM_H

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

namespace cgi {

enum PictureType : std::int32_t {
  PICTURE_GIF = 0,
  PICTURE_JPEG = 1,
  PICTURE_TIFF = 2
};

/// A picture file opened for reading in binary mode. `valid` is true when the
/// file is open and the path ends, with case, in ".GIF", ".JPG" or ".TIF".
class PictureStream : public std::ifstream {
 public:
  explicit PictureStream(const std::string& path);
  ~PictureStream() override;
  PictureStream(const PictureStream&) = delete;
  PictureStream& operator=(const PictureStream&) = delete;

  bool valid = false;
  PictureType type = PICTURE_GIF;
};

/// Writes the picture's part: its content-type line, an empty line, the
/// file's bytes and the boundary line. Nothing at all when not valid.
std::ostream& operator<<(std::ostream& out, PictureStream& picture);

}  // namespace cgi

#endif  // WHIRLO_CGI_PICTURE_STREAM_H
