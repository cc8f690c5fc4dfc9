#include "cgi/player.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cgi/messages.h"
#include "cgi/query_parser.h"
#include "cgi/random_generator.h"
#include "memory_dir.h"

namespace {

using namespace cgi;
using test_support::MemoryDir;

const char STATUS[] = "HTTP/1.0 200 OK\n";
const char MULTIPART[] =
    "Content-type: multipart/x-mixed-replace;boundary=sometext\n"
    "\n--sometext\n";
const char ERROR_PAGE[] =
    "Content-type: text/html\n\n<html><body>Whirlo-32 V1.2, error : WHL1005 "
    "(cannot open picture files)</body></html>\n--sometext\n";

std::uint32_t fixed_clock() { return 1234567; }

// Frames F1.GIF ... hold "f1", "f2", ...; the response is played for `query`.
class PlayerTest : public ::testing::Test {
 protected:
  void frames(int first, int last) {
    for (int n = first; n <= last; ++n) {
      dir_.write("F" + std::to_string(n) + ".GIF", frame(n));
    }
  }
  static std::string frame(int n) { return "f" + std::to_string(n); }
  static std::string part(const std::string& bytes) {
    return "Content-type: image/gif\n\n" + bytes + "\n--sometext\n";
  }
  std::string parts(std::initializer_list<int> numbers) {
    std::string out;
    for (int n : numbers) out += part(frame(n));
    return out;
  }
  std::string play(const std::string& query, bool animates = true) {
    AnimationRequest request;
    load_request_defaults(request, "no-such-config-file.ini");
    request.animation_path = dir_.prefix();
    std::string text = query;
    std::ostringstream ignored;
    parse_query(request, text, ignored);
    request.animates = animates;
    std::ostringstream out, errors;
    result_ = play_request(files_, request, out, errors, fixed_clock);
    errors_ = errors.str();
    return out.str();
  }

  memory_files::MemoryFileSystem files_;
  MemoryDir dir_{files_, "/site/animation-frames/"};
  int result_ = 0;
  std::string errors_;
};

TEST_F(PlayerTest, CountedRangeIsPlayedInLayoutA) {
  frames(1, 4);
  EXPECT_EQ(play("f"), STATUS + std::string(MULTIPART) + parts({1, 2, 3, 4}));
  EXPECT_EQ(result_, 0);
  EXPECT_EQ(play("f?.GIF?D"),
            STATUS + std::string(MULTIPART) + parts({4, 3, 2, 1}));
}

TEST_F(PlayerTest, EmptyRangesGiveTheErrorPage) {
  std::ostringstream message;
  write_error(message, NO_PICTURES);
  for (const char* query : {"f", "f?.GIF?S=====5", "f?.GIF?S=====3?E===3",
                            "f?.GIF?S=====4?E===2"}) {
    for (bool animates : {true, false}) {
      EXPECT_EQ(play(query, animates), STATUS + std::string(ERROR_PAGE))
          << query;
      EXPECT_EQ(result_, NO_PICTURES);
      EXPECT_EQ(errors_, message.str());
    }
    frames(1, 1);  // only the start frame: still an empty range
  }
}

TEST_F(PlayerTest, CountingStopsAtTheFirstGapAndBefore99) {
  frames(1, 3);
  frames(5, 6);
  EXPECT_EQ(count_frames(files_, dir_.prefix() + "F", ".GIF", 1), 3);
  EXPECT_EQ(count_frames(files_, dir_.prefix() + "F", ".GIF", 5), 6);
  EXPECT_EQ(count_frames(files_, dir_.prefix() + "F", ".GIF", 4), 3);
  frames(90, 99);
  EXPECT_EQ(count_frames(files_, dir_.prefix() + "F", ".GIF", 90), 98);
}

TEST_F(PlayerTest, RepeatCounts) {
  frames(1, 2);
  std::string up = parts({1, 2}), down = parts({2, 1});
  std::string head = STATUS + std::string(MULTIPART);
  EXPECT_EQ(play("f?.GIF?U?D?L====2"),
            head + up + down + up + down + up + down);
  EXPECT_EQ(play("f?.GIF?U?L====2?D"), head + up + up + up);
  EXPECT_EQ(play("f?.GIF?L====1"), head + up + up);
  EXPECT_EQ(play("f?.GIF?U?L====12?D"), head + up);
  EXPECT_EQ(play("f?.GIF?U?L====0?D"), head + up);
}

TEST_F(PlayerTest, SinglePictureStepsUseLayoutB) {
  frames(1, 3);
  dir_.write("LOGO.JPG", "logo");
  EXPECT_EQ(play("f?.GIF?P====2"), STATUS + part(frame(2)));
  EXPECT_EQ(
      play("f?.GIF?P====LOGO.JPG"),
      STATUS + std::string("Content-type: image/jpeg\n\nlogo\n--sometext\n"));
  EXPECT_EQ(play("f?.GIF?P====2?P====3"),
            STATUS + std::string(MULTIPART) + parts({2, 3}));
  // A missing single picture leaves the status line alone.
  EXPECT_EQ(play("f?.GIF?P====NONE"), STATUS);
}

TEST_F(PlayerTest, ViewerThatDoesNotAnimateGetsTheStillPicture) {
  frames(1, 3);
  EXPECT_EQ(play("f?.GIF?U?D?R", false), STATUS + part(frame(1)));
  EXPECT_EQ(play("f?.GIF?N======3", false), STATUS + part(frame(3)));
}

// Seeded with 1234567 the generator draws 1150, 4571, 2640, 11774, 4033,
// 26693, 30912: frames 3 + r mod 6 of the range 3 to 9.
TEST_F(PlayerTest, RandomPlayersDrawBelowTheEndFrame) {
  frames(3, 9);
  EXPECT_EQ(play("f?.GIF?R?S=====3?E===9"),
            STATUS + std::string(MULTIPART) + parts({7, 8, 3, 5, 4, 8, 3}));

  std::string one = part(frame(7));
  EXPECT_EQ(play("f?.GIF?O?S=====3?E===9"), STATUS + one);
  EXPECT_EQ(play("f?.GIF?O?S=====3?E===9?L====3"),
            STATUS + std::string(MULTIPART) + one + one + one + one);
}

TEST(RandomGenerator, KnownSequence) {
  RandomGenerator random;
  random.seed(1);
  EXPECT_EQ(random.next(), 41);
  EXPECT_EQ(random.next(), 18467);
  EXPECT_EQ(random.next(), 6334);
}

TEST_F(PlayerTest, NamesThatLeaveTheDirectoryDoNotExist) {
  frames(1, 3);
  MemoryDir outside{files_, "/site/outside/"};
  outside.write("SECRET.GIF", "secret");
  std::string up = parts({1, 2, 3});
  std::string head = STATUS + std::string(MULTIPART);
  for (std::string name :
       {std::string("..") + "/x/SECRET", outside.prefix() + "SECRET",
        std::string("A\\B"), std::string("C:SECRET")}) {
    EXPECT_EQ(play("f?.GIF?P====" + name + "?U"), head + up) << name;
    EXPECT_EQ(play("f?.GIF?N======" + name, false), STATUS) << name;
  }
  EXPECT_EQ(play(outside.prefix() + "SECRET"),
            STATUS + std::string(ERROR_PAGE));
}

TEST_F(PlayerTest, WindowsDeviceNamesDoNotExist) {
  // On Windows these names open devices; here they are ordinary files.
  for (const char* name :
       {"COM1.GIF", "COM2.GIF", "NUL.GIF", "LPT1.JPG", "AUX.GIF"}) {
    dir_.write(name, "device");
  }
  EXPECT_EQ(play("COM?.GIF?S=====1?E===2"), STATUS + std::string(MULTIPART));
  EXPECT_EQ(play("COM"), STATUS + std::string(ERROR_PAGE));
  frames(1, 2);
  EXPECT_EQ(play("f?.GIF?P====nul?P====lpt1.jpg?P====AUX.GIF"),
            STATUS + std::string(MULTIPART));
  dir_.write("CONSOLE.GIF", "not a device");
  EXPECT_EQ(play("f?.GIF?P====CONSOLE"), STATUS + part("not a device"));
}

TEST_F(PlayerTest, OverlongPathsDoNotExist) {
  // The files exist, but the directory and the name exceed 255 characters.
  std::string name(240, 'N');
  dir_.write(name + "1.GIF", "1");
  dir_.write(name + "2.GIF", "2");
  ASSERT_GT(dir_.prefix().size() + name.size() + 5, 255u);
  EXPECT_EQ(play(name + "?.GIF?S=====1?E===2"),
            STATUS + std::string(MULTIPART));
  EXPECT_EQ(play(name), STATUS + std::string(ERROR_PAGE));
}

}  // namespace
