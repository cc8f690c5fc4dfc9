#include "cgi/picture_stream.h"

#include <gtest/gtest.h>

#include <sstream>

#include "test_support.h"

namespace {

using test_support::TempDir;

std::string part_of(const std::string& path) {
  cgi::PictureStream picture(path);
  std::ostringstream out;
  out << picture;
  return out.str();
}

std::string part(const std::string& mime, const std::string& bytes) {
  return "Content-type: " + mime + "\n\n" + bytes + "\n--sometext\n";
}

TEST(PictureStream, EmptyGifIsThirtySevenBytes) {
  TempDir dir;
  std::string written = part_of(dir.write("E.GIF", ""));
  EXPECT_EQ(written, part("image/gif", ""));
  EXPECT_EQ(written.size(), 37u);
}

TEST(PictureStream, BytesArriveUnchangedAcrossBlockBoundaries) {
  TempDir dir;
  std::string awkward("\r\n\x1a\0\n\r\xff", 7);
  for (std::size_t size : {std::size_t{32767}, std::size_t{32768},
                           std::size_t{32769}, std::size_t{100000}}) {
    std::string bytes;
    while (bytes.size() < size) bytes += awkward;
    bytes.resize(size);
    EXPECT_EQ(part_of(dir.write("P.GIF", bytes)), part("image/gif", bytes))
        << size;
  }
}

TEST(PictureStream, TypeComesFromTheLastFourCharactersWithCase) {
  TempDir dir;
  EXPECT_EQ(part_of(dir.write("a.JPG", "j")), part("image/jpeg", "j"));
  EXPECT_EQ(part_of(dir.write("a.TIF", "t")), part("image/tif", "t"));
  for (const char* name : {"a.gif", "a.PNG", "a.JPEG", "GIF"}) {
    EXPECT_EQ(part_of(dir.write(name, "x")), "") << name;
  }
}

TEST(PictureStream, MissingFilesAndDirectoriesWriteNothing) {
  TempDir dir;
  EXPECT_EQ(part_of(dir.prefix() + "none.GIF"), "");
  dir.write("sub.GIF", "");
  std::filesystem::remove(dir.prefix() + "sub.GIF");
  std::filesystem::create_directory(dir.prefix() + "sub.GIF");
  EXPECT_EQ(part_of(dir.prefix() + "sub.GIF"), "");
}

TEST(PictureStream, LowerCaseFileIsFoundForUpperCaseName) {
  TempDir dir;
  dir.write("whirlo1.gif", "w1");
  EXPECT_EQ(part_of(dir.prefix() + "WHIRLO1.GIF"), part("image/gif", "w1"));
}

}  // namespace
