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

struct Case {
  const char* text;
  const char* section;
  const char* key;
  const char* value;
};

TEST(ProfileParser, Lookups) {
  const Case cases[] = {
      // Section headers: text after "]" is ignored, the last "]" ends it; a
      // "[" line without "]" is an ordinary line of the current section.
      {"[ S ] trailing\nk=v", "S", "k", "v"},
      {"[a]b]\nk=v", "a]b", "k", "v"},
      {"[S]\n[k=v\n", "S", "[k", "v"},
      {"k=v\n[S]\n", "S", "k", "<default>"},
      {"[T]\nk=v\n", "S", "k", "<default>"},
      // The first section and the first key of a name win.
      {"[S]\nk=1\nk=2\n", "S", "k", "1"},
      {"[S]\na=1\n[s]\nk=2\n", "S", "k", "<default>"},
      {"[T]\nk=0\n[S]\nk=1\n", "S", "k", "1"},
      // No comments; a line without "=" has no value.
      {"[S]\n;k=1\n", "S", ";k", "1"},
      {"[S]\nk=v ; note\n", "S", "k", "v ; note"},
      {"[S]\nk\n", "S", "k", "<default>"},
      {"[S]\nk=\n", "S", "k", ""},
      {"[S]\nk=   \n", "S", "k", ""},
      {"[S]\nk=a=b\n", "S", "k", "a=b"},
      // One pair of quotes is removed.
      {"[S]\na=\"dq\"\n", "S", "a", "dq"},
      {"[S]\na='sq'\n", "S", "a", "sq"},
      {"[S]\nk=\"in\"side\"\n", "S", "k", "in\"side"},
      {"[S]\nc=\"mixed'\n", "S", "c", "\"mixed'"},
      {"[S]\nc=\"\n", "S", "c", "\""},
      {"[S]\nc=\"\"\n", "S", "c", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lookup(c.text, c.section, c.key), c.value) << c.text;
  }
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
