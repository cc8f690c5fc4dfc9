#include "cgi/picture_stream.h"

#include <gtest/gtest.h>

#include <sstream>

#include "memory_files/memory_file_system.h"
#include "test_support.h"

namespace {

using test_support::TempDir;

std::string part_of(platform::FileSystem& files, const std::string& path) {
  cgi::PictureStream picture(files, path);
  std::ostringstream out;
  out << picture;
  return out.str();
}

std::string part(const std::string& mime, const std::string& bytes) {
  return "Content-type: " + mime + "\n\n" + bytes + "\n--sometext\n";
}

class PictureStreamTest : public testing::Test {
 protected:
  std::string part_of_file(const std::string& name, const std::string& bytes) {
    files_.add_file("/anim/" + name, bytes);
    return part_of(files_, "/anim/" + name);
  }

  memory_files::MemoryFileSystem files_;
};

TEST_F(PictureStreamTest, EmptyGifIsThirtySevenBytes) {
  std::string written = part_of_file("E.GIF", "");
  EXPECT_EQ(written, part("image/gif", ""));
  EXPECT_EQ(written.size(), 37u);
}

std::string awkward_bytes(std::size_t size) {
  std::string awkward("\r\n\x1a\0\n\r\xff", 7), bytes;
  while (bytes.size() < size) bytes += awkward;
  bytes.resize(size);
  return bytes;
}

// On disk too: the system's reader fills its blocks from a file stream.
TEST_F(PictureStreamTest, BytesArriveUnchangedAcrossBlockBoundaries) {
  TempDir dir;
  for (std::size_t size : {std::size_t{32767}, std::size_t{32768},
                           std::size_t{32769}, std::size_t{100000}}) {
    std::string bytes = awkward_bytes(size);
    EXPECT_EQ(part_of_file("P.GIF", bytes), part("image/gif", bytes)) << size;
    EXPECT_EQ(part_of(platform::system_files(), dir.write("P.GIF", bytes)),
              part("image/gif", bytes))
        << size;
  }
}

TEST_F(PictureStreamTest, TypeComesFromTheLastFourCharactersWithCase) {
  EXPECT_EQ(part_of_file("a.JPG", "j"), part("image/jpeg", "j"));
  EXPECT_EQ(part_of_file("a.TIF", "t"), part("image/tif", "t"));
  for (const char* name : {"a.gif", "a.PNG", "a.JPEG", "GIF"}) {
    EXPECT_EQ(part_of_file(name, "x"), "") << name;
  }
}

TEST_F(PictureStreamTest, MissingFilesAndWhatIsNoFileWriteNothing) {
  EXPECT_EQ(part_of(files_, "/anim/none.GIF"), "");
  files_.add_directory("/anim/sub.GIF");
  files_.add_other("/anim/pipe.GIF");
  EXPECT_EQ(part_of(files_, "/anim/sub.GIF"), "");
  EXPECT_EQ(part_of(files_, "/anim/PIPE.GIF"), "");
  EXPECT_EQ(files_.opened(), 0u);
}

TEST_F(PictureStreamTest, LowerCaseFileIsFoundForUpperCaseName) {
  files_.add_file("/anim/whirlo1.gif", "w1");
  EXPECT_EQ(part_of(files_, "/ANIM/WHIRLO1.GIF"), part("image/gif", "w1"));
}

}  // namespace
