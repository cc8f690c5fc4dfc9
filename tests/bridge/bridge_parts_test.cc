// Settings, program lookup and request-body spooling.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "gmt_offset.h"
#include "program_path.h"
#include "settings.h"
#include "spool.h"

namespace bridge {
namespace {

TEST(Settings, DefaultsAndValues) {
  Settings settings;
  std::string problem;
  ASSERT_TRUE(read_settings({}, settings, problem));
  EXPECT_EQ(settings.timeout_ms, 60000);
  EXPECT_EQ(settings.frame_interval_ms, 0);
  ASSERT_TRUE(read_settings({{"WINCGI_TIMEOUT", "5"},
                             {"WINCGI_FRAME_INTERVAL", "120"},
                             {"WINCGI_PROGRAM", "bin/prog"}},
                            settings, problem));
  EXPECT_EQ(settings.timeout_ms, 5000);
  EXPECT_EQ(settings.frame_interval_ms, 120);
  EXPECT_EQ(settings.program, "bin/prog");
}

TEST(Settings, RefusesWhatIsNotAPlainNumberInRange) {
  for (const char* bad : {"-1", "1.5", " 3", "0x10", "99999999999999999999"}) {
    Settings settings;
    std::string problem;
    EXPECT_FALSE(
        read_settings({{"WINCGI_FRAME_INTERVAL", bad}}, settings, problem))
        << bad;
    EXPECT_NE(problem.find("WINCGI_FRAME_INTERVAL"), std::string::npos);
  }
  Settings settings;
  std::string problem;
  EXPECT_FALSE(read_settings({{"WINCGI_TIMEOUT", "0"}}, settings, problem));
}

TEST(ProgramPath, NamedAfterTheBridge) {
  EXPECT_EQ(program_path("/w/cgi/nph-whirlo32.cgi", ""), "/w/cgi/whirlo32");
  EXPECT_EQ(program_path("/w/cgi/whirlo32.cgi", ""), "/w/cgi/whirlo32");
  EXPECT_EQ(program_path("/w/cgi/whirlo32", ""), "") << "would run itself";
  EXPECT_EQ(program_path("/w/cgi/whirlo32.cgi.exe", ""), "/w/cgi/whirlo32");
  EXPECT_EQ(program_path("/w/cgi/nph-.cgi", ""), "");
  EXPECT_EQ(program_path("/w/cgi/x.cgi", "../bin/prog"), "/w/cgi/../bin/prog");
  EXPECT_EQ(program_path("/w/cgi/x.cgi", "/opt/prog"), "/opt/prog");
  EXPECT_TRUE(is_nph_name("/w/nph-x.cgi"));
  EXPECT_FALSE(is_nph_name("/w/nph/x.cgi"));
}

TEST(ProgramPath, UrlArgsOnlyForIndexQueries) {
  EXPECT_EQ(url_args_word("whirlo?.gif?D"), "whirlo?.gif?D");
  EXPECT_EQ(url_args_word("a=b"), "");
  EXPECT_EQ(url_args_word("a b"), "");
  EXPECT_EQ(url_args_word("a\tb"), "");
}

class SpoolBody : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = std::tmpfile();
    ASSERT_NE(input_, nullptr);
    std::fputs("hello world", input_);
    std::rewind(input_);
    char pattern[] = "/tmp/bridge-body-XXXXXX";
    int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    path_ = pattern;
  }
  void TearDown() override {
    std::fclose(input_);
    std::remove(path_.c_str());
  }
  std::string written() {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::FILE* input_ = nullptr;
  std::string path_;
};

TEST_F(SpoolBody, CopiesExactlyContentLengthBytes) {
  std::uint64_t length = 0;
  EXPECT_EQ(spool_body("5", 100, input_, path_, length), BodyResult::OK);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(written(), "hello");
  EXPECT_EQ(spool_body("", 100, input_, path_, length), BodyResult::OK);
  EXPECT_EQ(written(), "");
}

TEST_F(SpoolBody, RefusesBadShortAndOversizedBodies) {
  std::uint64_t length = 0;
  EXPECT_EQ(spool_body("5x", 100, input_, path_, length),
            BodyResult::MALFORMED);
  EXPECT_EQ(spool_body("-5", 100, input_, path_, length),
            BodyResult::MALFORMED);
  EXPECT_EQ(spool_body("101", 100, input_, path_, length),
            BodyResult::TOO_LARGE);
  EXPECT_EQ(spool_body("50", 100, input_, path_, length), BodyResult::SHORT);
  EXPECT_EQ(length, 11u);
}

TEST(GmtOffset, FollowsTheTimeZone) {
  const char* saved = std::getenv("TZ");
  std::string old = saved ? saved : "";
  setenv("TZ", "EST5", 1);
  tzset();
  EXPECT_EQ(gmt_offset(1700000000), -5 * 3600);
  setenv("TZ", "UTC-14", 1);  // crosses the date line against GMT
  tzset();
  EXPECT_EQ(gmt_offset(1700000000 - 1700000000 % 86400 + 86000), 14 * 3600);
  if (saved)
    setenv("TZ", old.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace bridge
