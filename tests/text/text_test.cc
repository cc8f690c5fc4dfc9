// The shared text helpers: letter case, blanks, profile lines, the write loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/ascii.h"
#include "text/profile_line.h"
#include "text/write_all.h"

namespace {

TEST(Ascii, CaseChangesLettersOnly) {
  EXPECT_EQ(text::upper_case("aZ09?\xe4"), "AZ09?\xe4");
  EXPECT_EQ(text::lower_case("AbC-\xc4"), "abc-\xc4");
  EXPECT_TRUE(text::same_ignoring_case("Keep-Alive", "kEEP-aLIVE"));
  EXPECT_FALSE(text::same_ignoring_case("ab", "abc"));
  EXPECT_FALSE(text::same_ignoring_case("\xe4", "\xc4"));
  EXPECT_TRUE(text::less_ignoring_case("apple", "BANANA"));
  EXPECT_TRUE(text::less_ignoring_case("z", "\x80"));  // bytes are unsigned
  EXPECT_EQ(text::trim_blanks(" \t a b \t"), "a b");
  EXPECT_EQ(text::trim_blanks(" \t "), "");
}

TEST(ProfileLine, LinesEndAtOneCrLfCrOrLf) {
  std::string s = "a\r\nb\rc\n\rd";
  std::vector<std::string> lines;
  for (std::size_t pos = 0; pos < s.size();) {
    text::ProfileLine line = text::profile_line_at(s, pos);
    lines.push_back(s.substr(line.begin, line.end - line.begin));
    pos = line.next;
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "", "d"}));
}

TEST(ProfileLine, HeadersKeysAndTrimming) {
  std::string_view name, value;
  EXPECT_TRUE(text::section_header("[ a]b ] x", name));
  EXPECT_EQ(name, "a]b");
  EXPECT_FALSE(text::section_header("[open", name));
  EXPECT_TRUE(text::split_key_line("k 1 = a=b \x1a", name, value));
  EXPECT_EQ(name, "k 1");
  EXPECT_EQ(value, "a=b");
  EXPECT_FALSE(text::split_key_line("k", name, value));
  EXPECT_EQ(text::trim_profile_text("\x0b\x1a v \r\n"), "v");
}

TEST(ProfileLine, WrittenLinesAndControlBytes) {
  EXPECT_EQ(text::section_line("CGI") + text::key_line("k", "v"),
            "[CGI]\r\nk=v\r\n");
  EXPECT_FALSE(text::holds_control_byte("a b\x80\xff"));
  for (const char* bad : {"a\tb", "a\x1a", "\x7f", "a\r"}) {
    EXPECT_TRUE(text::holds_control_byte(bad)) << bad;
  }
  EXPECT_TRUE(text::holds_control_byte(std::string("a\0", 2)));
}

TEST(WriteAll, RetriesShortWritesAndStopsAtFailure) {
  std::string out;
  auto two_at_a_time = [&out](const char* data, std::size_t size) {
    out.append(data, size < 2 ? size : 2);
    return static_cast<long>(size < 2 ? size : 2);
  };
  EXPECT_TRUE(text::write_all("hello", 5, two_at_a_time));
  EXPECT_EQ(out, "hello");
  int calls = 0;
  auto failing = [&calls](const char*, std::size_t) {
    return ++calls > 1 ? -1L : 1L;
  };
  EXPECT_FALSE(text::write_all("abc", 3, failing));
  EXPECT_EQ(calls, 2);
}

}  // namespace
