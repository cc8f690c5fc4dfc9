#include "cgi/command_tail.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using cgi::command_tail;
using cgi::data_file_path;

TEST(CommandTail, SkipsTheProgramNameAndTheSeparatorsAfterIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"whirlo32.exe c:\\tmp\\req.ini", "c:\\tmp\\req.ini"},
      {"\"c:\\Program Files\\whirlo32.exe\" req.ini x", "req.ini x"},
      {"\"unclosed quote req.ini", ""},
      {"w\xe9xe req.ini", "req.ini"},
      // A first byte of 32 or less means an empty program name.
      {" \treq.ini", "req.ini"},
      // The separators after the name are the bytes 1 to 32.
      {"prog\t\t req.ini", "req.ini"},
      {"prog \x01\x1f\x20req.ini", "req.ini"},
      {"prog   ", ""},
      {"prog", ""},
      {"prog \x7fx", "\x7fx"},
  };
  for (const auto& [line, tail] : cases) {
    EXPECT_EQ(command_tail(line), tail) << line;
  }
}

TEST(CommandTail, PathEndsAtTheFirstBlankOnly) {
  EXPECT_EQ(data_file_path("req.ini more words"), "req.ini");
  EXPECT_EQ(data_file_path("req.ini\tmore"), "req.ini\tmore");
  EXPECT_EQ(data_file_path("\"quoted path\""), "\"quoted");
  EXPECT_EQ(data_file_path(""), "");
}

}  // namespace
