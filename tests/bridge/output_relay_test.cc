#include "output_relay.h"

#include <gtest/gtest.h>

#include <vector>

namespace bridge {
namespace {

const std::string PUSH =
    "HTTP/1.0 200 OK\n"
    "Content-type: multipart/x-mixed-replace;boundary=sometext\n"
    "\n--sometext\n"
    "Content-type: image/gif\n\nGIF-one\n--sometext\n"
    "Content-type: image/gif\n\nGIF-two\n--sometext\n";

struct Pieces {
  std::vector<std::string> parts;  // PART pieces, in order
  std::string all;                 // every byte sent
};

// Feeds `output` in slices of `step` bytes, taking pieces as they come.
Pieces relay(const std::string& output, bool nph, std::size_t step) {
  OutputRelay relay(nph);
  Pieces result;
  auto drain = [&] {
    std::string piece;
    for (Piece kind; (kind = relay.next(piece)) != Piece::NONE;) {
      EXPECT_NE(kind, Piece::FAILED);
      if (kind == Piece::FAILED) return;
      if (kind == Piece::PART) result.parts.push_back(piece);
      result.all += piece;
    }
  };
  for (std::size_t at = 0; at < output.size(); at += step) {
    relay.feed(output.data() + at, std::min(step, output.size() - at));
    drain();
  }
  relay.finish();
  drain();
  EXPECT_TRUE(relay.done());
  return result;
}

// Each part travels with the header block of the part after it; the last
// part is a piece of its own once the file is complete.
TEST(OutputRelay,
     NphSendsDirectReturnUnchangedAndCutsAfterTheNextPartsHeaders) {
  for (std::size_t step : {1u, 7u, 4096u}) {
    Pieces pieces = relay(PUSH, true, step);
    EXPECT_EQ(pieces.all, PUSH) << "step " << step;
    ASSERT_EQ(pieces.parts.size(), 2u) << "step " << step;
    EXPECT_EQ(pieces.parts[0], PUSH.substr(0, PUSH.find("GIF-two")));
    EXPECT_EQ(pieces.parts[1], "GIF-two\n--sometext\n");
  }
}

TEST(OutputRelay, HoldsAPartUntilTheNextPartsHeaderBlockIsComplete) {
  OutputRelay relay(true);
  std::string piece;
  std::string head = PUSH.substr(0, PUSH.find("GIF-one") + 8) +
                     "--sometext\r\nContent-type: image/gif\r\n";
  relay.feed(head.data(), head.size());
  EXPECT_EQ(relay.next(piece), Piece::NONE);
  relay.feed("\r\nGIF-two", 9);
  ASSERT_EQ(relay.next(piece), Piece::PART);
  EXPECT_EQ(piece, head + "\r\n");
  EXPECT_EQ(relay.next(piece), Piece::NONE);  // the last part waits for the end
  relay.finish();
  ASSERT_EQ(relay.next(piece), Piece::PART);
  EXPECT_EQ(piece, "GIF-two");
  EXPECT_TRUE(relay.done());
}

TEST(OutputRelay, CgiTurnsTheStatusLineIntoHeadersAndKeepsTheBody) {
  Pieces pieces = relay(PUSH, false, 3);
  std::string header =
      "Status: 200 OK\r\n"
      "Content-type: multipart/x-mixed-replace;boundary=sometext\r\n\r\n";
  std::string body = PUSH.substr(PUSH.find("\n\n") + 2);
  EXPECT_EQ(pieces.all, header + body);
  EXPECT_EQ(pieces.parts.size(), 2u);
}

TEST(OutputRelay, StillPictureAndBareStatusLine) {
  std::string still =
      "HTTP/1.0 200 OK\nContent-type: image/gif\n\nGIF\n--sometext\n";
  Pieces pieces = relay(still, false, 5);
  EXPECT_EQ(
      pieces.all,
      "Status: 200 OK\r\nContent-type: image/gif\r\n\r\nGIF\n--sometext\n");
  EXPECT_TRUE(pieces.parts.empty());
  EXPECT_EQ(relay("HTTP/1.0 200 OK\n", false, 100).all,
            "Status: 200 OK\r\n\r\n");
}

TEST(OutputRelay, TextAfterTheLastBoundaryIsSentAtTheEnd) {
  Pieces pieces = relay(PUSH + "tail", true, 2);
  EXPECT_EQ(pieces.all, PUSH + "tail");
}

TEST(ConvertHeader, ParsedOutput) {
  std::string out;
  ASSERT_TRUE(convert_header("Content-type: text/html\r\n\r\n", false, out));
  EXPECT_EQ(out, "Content-type: text/html\r\n\r\n");
  ASSERT_TRUE(convert_header("URI: http://x/y\njunk line\n\n", false, out));
  EXPECT_EQ(out, "Location: http://x/y\r\n\r\n");
  ASSERT_TRUE(convert_header("URI: http://x/y\n\n", true, out));
  EXPECT_EQ(out, "HTTP/1.0 302 Found\r\nLocation: http://x/y\r\n\r\n");
  ASSERT_TRUE(
      convert_header("Status: 404 Gone\nContent-type: a/b\n\n", true, out));
  EXPECT_EQ(out, "HTTP/1.0 404 Gone\r\nContent-type: a/b\r\n\r\n");
}

TEST(ConvertHeader, RefusesADirectReturnWithoutStatus) {
  std::string out;
  EXPECT_FALSE(convert_header("HTTP/1.0\n\n", false, out));
  EXPECT_FALSE(convert_header("HTTP/1.0 OK\n\n", false, out));
  // HTTP/1.1 is not a direct return: the line has no colon and is dropped.
  ASSERT_TRUE(convert_header("HTTP/1.1 200 OK\n\n", false, out));
  EXPECT_EQ(out, "Status: 200 OK\r\n\r\n");
}

TEST(OutputRelay, HeaderWithoutEndOverTheLimitFails) {
  OutputRelay relay(false);
  std::string junk(MAX_HEADER_BYTES + 1, 'x');
  relay.feed(junk.data(), junk.size());
  std::string piece;
  EXPECT_EQ(relay.next(piece), Piece::FAILED);
}

TEST(PushBoundary, FindsQuotedAndParameterisedBoundaries) {
  EXPECT_EQ(
      push_boundary(
          "Content-Type: multipart/x-mixed-replace; boundary=\"ab\"; x=1\n\n"),
      "ab");
  EXPECT_EQ(push_boundary("HTTP/1.0 200 OK\nContent-type: image/gif\n\n"), "");
}

}  // namespace
}  // namespace bridge
