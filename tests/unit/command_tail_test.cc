#include "cgi/command_tail.h"

#include <gtest/gtest.h>

namespace {

using cgi::command_tail;
using cgi::data_file_path;

TEST(CommandTail, ProgramNameIsSkipped) {
  EXPECT_EQ(command_tail("whirlo32.exe c:\\tmp\\req.ini"), "c:\\tmp\\req.ini");
  EXPECT_EQ(command_tail("\"c:\\Program Files\\whirlo32.exe\" req.ini x"),
            "req.ini x");
  EXPECT_EQ(command_tail("\"unclosed quote req.ini"), "");
  EXPECT_EQ(command_tail("w\xe9xe req.ini"), "req.ini");
  // A first byte of 32 or less means an empty program name.
  EXPECT_EQ(command_tail(" \treq.ini"), "req.ini");
}

TEST(CommandTail, SeparatorsAfterTheNameAreBytes1To32) {
  EXPECT_EQ(command_tail("prog\t\t req.ini"), "req.ini");
  EXPECT_EQ(command_tail("prog \x01\x1f\x20req.ini"), "req.ini");
  EXPECT_EQ(command_tail("prog   "), "");
  EXPECT_EQ(command_tail("prog"), "");
  EXPECT_EQ(command_tail("prog \x7fx"), "\x7fx");
}

TEST(CommandTail, PathEndsAtTheFirstBlankOnly) {
  EXPECT_EQ(data_file_path("req.ini more words"), "req.ini");
  EXPECT_EQ(data_file_path("req.ini\tmore"), "req.ini\tmore");
  EXPECT_EQ(data_file_path("\"quoted path\""), "\"quoted");
  EXPECT_EQ(data_file_path(""), "");
}

}  // namespace
