// The picture part writer on an arbitrary picture file. Input: one byte
// that chooses the file's name, then the file's bytes.
//
// Checked: a known extension (with case) gives exactly "Content-type: ",
// the MIME text, two line feeds, the bytes and the boundary line after
// whatever the output already held; any other name, or no file, adds
// nothing at all.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "cgi/picture_stream.h"
#include "fuzz_support.h"
#include "memory_files/memory_file_system.h"

namespace {

struct Name {
  const char* suffix;
  const char* mime;  // nullptr: no part
};

const Name NAMES[] = {
    {"p.GIF", "image/gif"}, {"p.JPG", "image/jpeg"}, {"p.TIF", "image/tif"},
    {"p.gif", nullptr},     {"p.JPEG", nullptr},     {"p.BMP", nullptr},
    {"pGIF", nullptr},      {"p.GIF.txt", nullptr},
};
constexpr std::size_t NAME_COUNT = sizeof NAMES / sizeof NAMES[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  // Values past the table name a file that does not exist.
  const std::size_t choice = data[0] % (NAME_COUNT + 1);
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1,
                               size - 1);
  const bool present = choice < NAME_COUNT;
  const Name& name = NAMES[present ? choice : 0];
  const std::string path =
      std::string("/pictures/") + (present ? name.suffix : "missing.GIF");
  static memory_files::MemoryFileSystem files;
  if (present) files.add_file(path, std::string(bytes));

  const std::string before = "HTTP/1.0 200 OK\n";
  std::ostringstream out;
  out << before;
  {
    cgi::PictureStream picture(files, path);
    std::ostream& chained = out << picture;
    fuzz::check(&chained == &out, "insertion returns the output stream");
    fuzz::check(picture.valid == (present && name.mime != nullptr),
                "valid only for an open file with a known extension", path);
  }

  std::string expected = before;
  if (present && name.mime) {
    expected += "Content-type: ";
    expected += name.mime;
    expected += "\n\n";
    expected += bytes;
    expected += "\n--sometext\n";
  }
  const std::string written = out.str();
  fuzz::check(written == expected, "the part's layout is exact",
              path + ": " + std::to_string(written.size()) +
                  " bytes written, " + std::to_string(expected.size()) +
                  " expected");
  if (present) files.remove(path);
  return 0;
}
