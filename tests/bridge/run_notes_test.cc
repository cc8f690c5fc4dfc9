#include "run_notes.h"

#include <gtest/gtest.h>

namespace bridge {
namespace {

const char HEADER[] =
    "HTTP/1.0 200 OK\n"
    "Content-type: multipart/x-mixed-replace;boundary=sometext\n\n";

// What decides whether a run's broken image is reported: only a push
// stream with no part in it, whatever its line ends.
TEST(EmptyPushStream, OnlyAStreamWithoutAPartCounts) {
  EXPECT_TRUE(is_empty_push_stream(std::string(HEADER) + "--sometext\n"));
  EXPECT_TRUE(is_empty_push_stream(
      "Content-Type: MULTIPART/X-MIXED-REPLACE;boundary=b\r\n\r\n--b\r\n"));
  EXPECT_FALSE(is_empty_push_stream(std::string(HEADER) +
                                    "--sometext\nContent-type: image/gif\n\nGIF"
                                    "\n--sometext\n"));
  EXPECT_FALSE(is_empty_push_stream(
      "HTTP/1.0 200 OK\nContent-type: image/gif\n\n"));  // a still picture
  EXPECT_FALSE(is_empty_push_stream(
      "HTTP/1.0 200 OK\nContent-type: text/html\n\n<html>1005</html>"));
  EXPECT_FALSE(is_empty_push_stream(""));  // nothing written: a 502 of its own
}

// The request comes from the client: it must never add a log line, and
// its length is bounded.
TEST(RequestLabel, EscapesControlBytesAndIsBounded) {
  Environment env = {
      {"SCRIPT_NAME", "/cgi-win/nph-whirlo32.cgi"},
      {"QUERY_STRING", "whirlo?.gif?D\nwincgi-bridge: forged\r"}};
  EXPECT_EQ(request_label(env),
            "/cgi-win/nph-whirlo32.cgi?whirlo?.gif?D\\x0awincgi-bridge: "
            "forged\\x0d");
  env["QUERY_STRING"] = std::string(100000, 'a');
  std::string label = request_label(env);
  EXPECT_LT(label.size(), 400u);
  EXPECT_EQ(label.substr(label.size() - 3), "...");
  EXPECT_EQ(request_label({{"SCRIPT_NAME", "/x.cgi"}}), "/x.cgi");
}

TEST(RequestScope, NamesTheRequestWhileItLivesAndRestoresTheOuterOne) {
  EXPECT_EQ(logged_request(), "");
  {
    RequestScope outer(Environment{{"SCRIPT_NAME", "/a.cgi"}});
    {
      RequestScope inner(
          Environment{{"SCRIPT_NAME", "/b.cgi"}, {"QUERY_STRING", "q"}});
      EXPECT_EQ(logged_request(), "/b.cgi?q");
    }
    EXPECT_EQ(logged_request(), "/a.cgi");
  }
  EXPECT_EQ(logged_request(), "");
}

}  // namespace
}  // namespace bridge
