#include "platform/posix/profile_parser.h"

#include <gtest/gtest.h>

namespace {

// The value of section/key in text, or "<default>".
std::string lookup(const std::string& text, const std::string& section,
                   const std::string& key) {
  std::string value;
  return platform::find_profile_value(text, section, key, value) ? value
                                                                 : "<default>";
}

TEST(ProfileParser, LineEndsAndTrimmingDoNotMatter) {
  for (const char* text : {"[S]\nk=v\n", "[S]\r\nk=v\r\n", "[S]\rk=v",
                           "\n\n  [S]  \n\t k \t= v \x1a\n"}) {
    EXPECT_EQ(lookup(text, "S", "k"), "v") << text;
  }
}

TEST(ProfileParser, NamesMatchWithoutCaseButBlanksCount) {
  std::string text = "[Whirl]\nAnimation Path=/anim/\nk 1=x\n";
  EXPECT_EQ(lookup(text, "WHIRL", "animation path"), "/anim/");
  EXPECT_EQ(lookup(text, " whirl ", " ANIMATION PATH "), "/anim/");
  EXPECT_EQ(lookup(text, "Whirl", "k  1"), "<default>");
}

TEST(ProfileParser, SectionHeaders) {
  EXPECT_EQ(lookup("[ S ] trailing\nk=v", "S", "k"), "v");
  EXPECT_EQ(lookup("[a]b]\nk=v", "a]b", "k"), "v");
  // A "[" line without "]" is an ordinary line of the current section.
  EXPECT_EQ(lookup("[S]\n[k=v\n", "S", "[k"), "v");
  EXPECT_EQ(lookup("k=v\n[S]\n", "S", "k"), "<default>");
  EXPECT_EQ(lookup("[T]\nk=v\n", "S", "k"), "<default>");
}

TEST(ProfileParser, FirstSectionAndFirstKeyWin) {
  EXPECT_EQ(lookup("[S]\nk=1\nk=2\n", "S", "k"), "1");
  EXPECT_EQ(lookup("[S]\na=1\n[s]\nk=2\n", "S", "k"), "<default>");
  EXPECT_EQ(lookup("[T]\nk=0\n[S]\nk=1\n", "S", "k"), "1");
}

TEST(ProfileParser, NoCommentsAndLinesWithoutEquals) {
  EXPECT_EQ(lookup("[S]\n;k=1\n", "S", ";k"), "1");
  EXPECT_EQ(lookup("[S]\nk=v ; note\n", "S", "k"), "v ; note");
  EXPECT_EQ(lookup("[S]\nk\n", "S", "k"), "<default>");
  EXPECT_EQ(lookup("[S]\nk=\n", "S", "k"), "");
  EXPECT_EQ(lookup("[S]\nk=   \n", "S", "k"), "");
  EXPECT_EQ(lookup("[S]\nk=a=b\n", "S", "k"), "a=b");
}

TEST(ProfileParser, OnePairOfQuotesIsRemoved) {
  EXPECT_EQ(lookup("[S]\na=\"dq\"\n", "S", "a"), "dq");
  EXPECT_EQ(lookup("[S]\na='sq'\n", "S", "a"), "sq");
  EXPECT_EQ(lookup("[S]\nk=\"in\"side\"\n", "S", "k"), "in\"side");
  EXPECT_EQ(lookup("[S]\nc=\"mixed'\n", "S", "c"), "\"mixed'");
  EXPECT_EQ(lookup("[S]\nc=\"\n", "S", "c"), "\"");
  EXPECT_EQ(lookup("[S]\nc=\"\"\n", "S", "c"), "");
}

TEST(ProfileParser, BytesPassUnchangedUpToNul) {
  std::string text =
      "[S]\nk=a\x01\xff"
      "b\n";
  EXPECT_EQ(lookup(text, "S", "k"),
            "a\x01\xff"
            "b");
  EXPECT_EQ(lookup(std::string("[S]\nk=ab\0cd\n", 12), "S", "k"), "ab");
  EXPECT_EQ(lookup("\xef\xbb\xbf[S]\nk=v\n", "S", "k"), "<default>");
  std::string long_value(100000, 'x');
  EXPECT_EQ(lookup("[S]\nk=" + long_value, "S", "k"), long_value);
}

}  // namespace
