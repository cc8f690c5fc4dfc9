// The response made as it is sent is whirlo32's response, byte for byte,
// whatever the query, and it is handed out a part at a time.
#include "play_source.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cgi/player.h"
#include "cgi/query_parser.h"
#include "memory_files/memory_file_system.h"

namespace {

using cgi::AnimationRequest;
using fastcgi::PlaySource;

constexpr std::uint32_t SEED = 1234567;
const char PART_END[] = "\n--sometext\n";

class PlaySourceTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int n = 1; n <= 6; ++n)
      files_.add_file("/anim/F" + std::to_string(n) + ".GIF",
                      std::string(100 * n, static_cast<char>('a' + n)));
    files_.add_file("/anim/still.gif", "still picture");
    files_.add_file("/anim/logo.JPG", "jpeg bytes");
    files_.add_file("/anim/odd.txt", "no picture type");
    files_.add_other("/anim/F7.GIF");  // counted, never played
  }

  std::unique_ptr<AnimationRequest> request(const std::string& query,
                                            bool animates) {
    auto made = std::make_unique<AnimationRequest>();
    cgi::load_request_defaults(*made, "/no/pelk.ini", files_);
    made->animation_path = "/anim/";
    made->still_name = "STILL";
    std::string text = query;
    std::ostringstream ignored;
    cgi::parse_query(*made, text, ignored);
    made->animates = animates;
    return made;
  }

  // What whirlo32 writes: the whole response at once.
  std::string whole(const std::string& query, bool animates,
                    std::string& errors) {
    std::unique_ptr<AnimationRequest> made = request(query, animates);
    std::ostringstream out, messages;
    cgi::play_request(files_, *made, out, messages, [] { return SEED; });
    errors = messages.str();
    return out.str();
  }

  memory_files::MemoryFileSystem files_;
};

const char* const QUERIES[] = {
    "f",
    "f?.GIF?D",
    "f?.GIF?R",
    "f?.GIF?R?R?Z?U?3",
    "f?.GIF?S=====2?E===5?D?U",
    "f?.GIF?P==4?P==9?P==1",
    "f?.GIF?N?still?N?LOGO.JPG?N?odd.txt?N?none",
    "f?.GIF?N?LOGO.JPG",
    "f?.GIF?X",
    "f?.GIF?U?D?2",
    "f?.GIF?S=====9",
    "none",
    "f?.GIF?U?9?D",
};

TEST_F(PlaySourceTest, HandsOutWhirlo32sBytesInAnyBlocks) {
  for (const char* query : QUERIES) {
    for (bool animates : {true, false}) {
      std::string errors;
      const std::string expected = whole(query, animates, errors);
      // Checked against the cap first or not: a response that fits is
      // then handed out from what the check made.
      for (std::size_t block : {1u, 7u, 4096u, 65536u}) {
        std::uint64_t parts[2] = {0, 0};
        for (bool checked : {false, true}) {
          PlaySource source(files_, request(query, animates), SEED);
          std::ostringstream messages;
          source.begin(messages);
          if (checked) {
            EXPECT_TRUE(source.fits(expected.size(), true)) << query;
          }
          std::string made;
          std::string buffer(block, '\0');
          while (std::size_t got = source.read(&buffer[0], block))
            made.append(buffer, 0, got);
          EXPECT_EQ(made, expected)
              << query << " block " << block << (checked ? " checked" : "");
          EXPECT_EQ(messages.str(), errors) << query;
          parts[checked] = source.parts();
        }
        EXPECT_EQ(parts[1], parts[0]) << query;
      }
      PlaySource source(files_, request(query, animates), SEED);
      std::ostringstream ignored;
      source.begin(ignored);
      EXPECT_TRUE(source.fits(expected.size(), false)) << query;
      EXPECT_FALSE(source.fits(expected.size() - 1, false)) << query;
    }
  }
}

// With room to spare, the first read is the response's start and each
// other exactly one part: a reader that asks only for the part it sends
// next holds no more.
TEST_F(PlaySourceTest, EachReadEndsWithItsPart) {
  PlaySource source(files_, request("f?.GIF?U?D", true), SEED);
  std::ostringstream ignored;
  ASSERT_EQ(source.begin(ignored), 0);
  // Checked against the cap as a paced response is: nothing kept.
  ASSERT_TRUE(source.fits(std::uint64_t(1) << 30, false));
  char block[65536];
  const std::string start =
      "HTTP/1.0 200 OK\nContent-type: "
      "multipart/x-mixed-replace;boundary=sometext\n\n--sometext\n";
  std::size_t got = source.read(block, sizeof block);
  EXPECT_EQ(std::string(block, got), start);
  int parts = 0;
  while ((got = source.read(block, sizeof block)) != 0) {
    std::string part(block, got);
    ++parts;
    EXPECT_EQ(part.compare(0, 25, "Content-type: image/gif\n\n"), 0);
    EXPECT_EQ(part.find(PART_END), part.size() - sizeof PART_END + 1);
  }
  EXPECT_EQ(parts, 12);
  EXPECT_EQ(source.parts(), 12u);
  EXPECT_TRUE(source.pushes());
}

}  // namespace
