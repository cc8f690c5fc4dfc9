#include "cgi/query_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "cgi/messages.h"

namespace {

using namespace cgi;

struct Parsed {
  AnimationRequest request;
  int result = 0;
  std::string query;   // the query as the parser left it
  std::string errors;  // what it wrote to the error channel
};

Parsed parse(const std::string& query) {
  Parsed p;
  load_request_defaults(p.request, "no-such-config-file.ini");
  std::ostringstream errors;
  p.query = query;
  p.result = parse_query(p.request, p.query, errors);
  p.errors = errors.str();
  return p;
}

// The step table up to its terminating 0.
std::vector<int> steps(const Parsed& p) {
  std::vector<int> out;
  for (int v : p.request.steps) {
    if (v == STEP_END) break;
    out.push_back(v);
  }
  return out;
}

std::string message(int number) {
  std::ostringstream out;
  write_error(out, number);
  return out.str();
}

TEST(ReadNumber, OneOrTwoDigits) {
  EXPECT_EQ(read_number("12", 0), 12);
  EXPECT_EQ(read_number("07", 0), 7);
  EXPECT_EQ(read_number("123", 0), 12);
  EXPECT_EQ(read_number("=5", 0), 5);
  EXPECT_EQ(read_number("5=", 0), 5);
  EXPECT_EQ(read_number("5", 0), 5);
  EXPECT_EQ(read_number("xy", 0), NO_NUMBER);
  EXPECT_EQ(read_number("12", 2), NO_NUMBER);
}

TEST(ParseQuery, EmptyQueryIsTheDemonstration) {
  Parsed p = parse("");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.request.base_name, "Whirlo");
  EXPECT_EQ(p.request.frame_extension, ".GIF");
  EXPECT_EQ(p.request.start_frame, 1);
  EXPECT_EQ(p.request.end_frame, 13);
  EXPECT_EQ(p.request.still_name, "Whirlo8");
  EXPECT_EQ(p.request.still_extension, ".GIF");
  EXPECT_EQ(steps(p), std::vector<int>{STEP_UP});
}

TEST(ParseQuery, WorkedExample) {
  Parsed p = parse("whirlo?.gif?U?Sxxxxx3?Exxx9?D?Lxxxx2");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.errors, "");
  EXPECT_EQ(p.query, "WHIRLO");
  EXPECT_EQ(p.request.base_name, "WHIRLO");
  EXPECT_EQ(p.request.still_name, "WHIRLO1");
  EXPECT_EQ(p.request.still_extension, ".GIF");
  EXPECT_EQ(p.request.start_frame, 3);
  EXPECT_EQ(p.request.end_frame, 9);
  EXPECT_EQ(steps(p), (std::vector<int>{STEP_UP, STEP_DOWN, 2}));
}

TEST(ParseQuery, BaseNameAndExtension) {
  Parsed plain = parse("whirlo");
  EXPECT_EQ(plain.request.base_name, "WHIRLO");
  EXPECT_EQ(plain.request.end_frame, -1);
  EXPECT_EQ(plain.request.still_name, "WHIRLO1");
  EXPECT_EQ(steps(plain), std::vector<int>{STEP_UP});

  EXPECT_EQ(parse("a?.jpg").request.frame_extension, ".JPG");
  EXPECT_EQ(parse("a?.TIFF?U").request.frame_extension, ".TIF");
  EXPECT_EQ(parse("a?.tif").request.still_extension, ".TIF");
  EXPECT_EQ(parse("?.GIF").request.base_name, "");
  for (const char* bad : {"a?.GI", "a?.PNG", "a?U", "a?"}) {
    Parsed p = parse(bad);
    EXPECT_EQ(p.result, BAD_EXTENSION) << bad;
    EXPECT_EQ(p.errors, message(BAD_EXTENSION)) << bad;
  }
}

TEST(ParseQuery, StepCommands) {
  EXPECT_EQ(steps(parse("a?.GIF?D?R?O?U")),
            (std::vector<int>{STEP_DOWN, STEP_RANDOM_RUN, STEP_RANDOM_FRAME,
                              STEP_UP}));
  // The letter alone decides; the rest of a field is filler.
  EXPECT_EQ(steps(parse("a?.GIF?DOWN?UP")),
            (std::vector<int>{STEP_DOWN, STEP_UP}));
}

TEST(ParseQuery, NumbersAtFixedDistances) {
  EXPECT_EQ(parse("a?.GIF?S=====12").request.start_frame, 12);
  EXPECT_EQ(parse("a?.GIF?S=====123").request.start_frame, 12);
  EXPECT_EQ(parse("a?.GIF?S=====x7").request.start_frame, 7);
  EXPECT_EQ(parse("a?.GIF?S=====xx").request.start_frame, 1);
  EXPECT_EQ(parse("a?.GIF?E===5").request.end_frame, 5);
  // A short S field takes its argument from the next field and still lets
  // that field be parsed.
  Parsed p = parse("a?.GIF?S?D?U=12");
  EXPECT_EQ(p.request.start_frame, 12);
  EXPECT_EQ(steps(p), (std::vector<int>{STEP_DOWN, STEP_UP}));
}

TEST(ParseQuery, RepeatCounts) {
  EXPECT_EQ(steps(parse("a?.GIF?L====3")), (std::vector<int>{STEP_UP, 3}));
  EXPECT_EQ(steps(parse("a?.GIF?Lxxxx?D")),
            (std::vector<int>{STEP_UP, STEP_DOWN}));
  EXPECT_EQ(steps(parse("a?.GIF?U?L====12")), (std::vector<int>{STEP_UP, 12}));
  Parsed zero = parse("a?.GIF?U?L====0?D");
  EXPECT_EQ(steps(zero), std::vector<int>{STEP_UP});
  EXPECT_EQ(zero.request.steps[2], STEP_DOWN);
  // An L field resumes at its argument, so a short one swallows the next.
  EXPECT_EQ(steps(parse("a?.GIF?D?L?U")), std::vector<int>{STEP_DOWN});
}

TEST(ParseQuery, PictureCommands) {
  Parsed p = parse("a?.GIF?P====LOGO.JPG?P====logo?P====7?P====L0GO");
  ASSERT_EQ(steps(p), (std::vector<int>{STEP_NAMED_BASE, STEP_NAMED_BASE + 1,
                                        STEP_FRAME_BASE + 7, STEP_FRAME_BASE}));
  EXPECT_EQ(p.request.named_pictures[0]->name, "LOGO");
  EXPECT_EQ(p.request.named_pictures[0]->extension, ".JPG");
  EXPECT_EQ(p.request.named_pictures[1]->name, "LOGO");
  EXPECT_EQ(p.request.named_pictures[1]->extension, ".GIF");

  Parsed window = parse("a?.GIF?P====LOGO.G?U");
  ASSERT_EQ(steps(window), (std::vector<int>{STEP_NAMED_BASE, STEP_UP}));
  EXPECT_EQ(window.request.named_pictures[0]->extension, ".G?U");
  EXPECT_EQ(parse("a?.GIF?P====ABCDEFGHIJKLMN").request.named_pictures[0]->name,
            "ABCDEFGHIJKL");
  // A P field that reaches the end of the text ends parsing.
  EXPECT_EQ(steps(parse("a?.GIF?D?P")), std::vector<int>{STEP_DOWN});
}

TEST(ParseQuery, StillPicture) {
  Parsed number = parse("anim?.JPG?N======5");
  EXPECT_EQ(number.request.still_name, "ANIM5");
  EXPECT_EQ(number.request.still_extension, ".JPG");
  Parsed named = parse("anim?.JPG?N======STILL.TIF");
  EXPECT_EQ(named.request.still_name, "STILL");
  EXPECT_EQ(named.request.still_extension, ".TIF");
  Parsed empty = parse("anim?.JPG?N");
  EXPECT_EQ(empty.request.still_name, "");
  EXPECT_EQ(empty.request.still_extension, ".GIF");
}

TEST(ParseQuery, UnknownCommandsAreReportedEachTime) {
  Parsed p = parse("a?.GIF?X??W====?U?Z");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.errors,
            message(BAD_COMMAND) + message(BAD_COMMAND) + message(BAD_COMMAND));
  EXPECT_EQ(steps(p), std::vector<int>{STEP_UP});
  EXPECT_EQ(parse("a?.GIF?W?U").errors, "");
}

TEST(ParseQuery, FiftyStepsAtMost) {
  std::string query = "a?.GIF";
  for (int i = 0; i < 50; ++i) query += "?D";
  query += "?U?S=====5?X";
  Parsed p = parse(query);
  EXPECT_EQ(steps(p), std::vector<int>(50, STEP_DOWN));
  EXPECT_EQ(p.request.steps[50], STEP_END);
  EXPECT_EQ(p.request.start_frame, 1);
  EXPECT_EQ(p.errors, "");
}

}  // namespace
