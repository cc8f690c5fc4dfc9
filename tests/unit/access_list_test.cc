#include "cgi/access_list.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  std::string value;
  std::string list;
  bool allowed;
};

TEST(AccessList, Allows) {
  const Case cases[] = {
      // An empty value or list allows.
      {"", "example.com", true},
      {"anything", "", true},
      // Items are case-sensitive substrings.
      {"Mozilla/5.0 (X11)", "Mozilla", true},
      {"Opera, compatible Mozilla", "Mozilla", true},
      {"Mozilla/5.0", "zilla", true},
      {"mozilla/5.0", "Mozilla", false},
      {"http://www.example.com.evil/x", "example.com", true},
      // Later items count; a blank after a comma is part of the item.
      {"Lynx/2.8", "Mozilla,Lynx", true},
      {"Lynx/2.8", "Mozilla, Lynx", false},
      {"text Lynx/2.8", "Mozilla, Lynx", true},
      {"curl", "Mozilla,Lynx,w3m", false},
      // An empty item allows everything.
      {"curl", ",Mozilla", true},
      {"curl", "Mozilla,", true},
      {"curl", "Lynx,,Mozilla", true},
      // NUL is an ordinary byte.
      {std::string("\0g", 2), "x", false},
      {std::string("a\0b", 3), std::string("z,\0b", 4), true},
  };
  for (const Case& c : cases) {
    std::string list = c.list;
    EXPECT_EQ(cgi::list_allows(c.value, list), c.allowed)
        << "value \"" << c.value << "\", list \"" << c.list << "\"";
    EXPECT_EQ(list, c.list) << "the list is left as it was";
  }
}

}  // namespace
