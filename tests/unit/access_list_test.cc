#include "cgi/access_list.h"

#include <gtest/gtest.h>

namespace {

int allows(const std::string& value, std::string list) {
  return cgi::list_allows(value, list);
}

TEST(AccessList, EmptyValueOrListAllows) {
  EXPECT_EQ(allows("", "example.com"), 1);
  EXPECT_EQ(allows("anything", ""), 1);
}

TEST(AccessList, ItemsAreCaseSensitiveSubstrings) {
  EXPECT_EQ(allows("Mozilla/5.0 (X11)", "Mozilla"), 1);
  EXPECT_EQ(allows("Opera, compatible Mozilla", "Mozilla"), 1);
  EXPECT_EQ(allows("Mozilla/5.0", "zilla"), 1);
  EXPECT_EQ(allows("mozilla/5.0", "Mozilla"), 0);
  EXPECT_EQ(allows("http://www.example.com.evil/x", "example.com"), 1);
}

TEST(AccessList, LaterItemsAndBlanks) {
  EXPECT_EQ(allows("Lynx/2.8", "Mozilla,Lynx"), 1);
  EXPECT_EQ(allows("Lynx/2.8", "Mozilla, Lynx"), 0);
  EXPECT_EQ(allows("text Lynx/2.8", "Mozilla, Lynx"), 1);
  EXPECT_EQ(allows("curl", "Mozilla,Lynx,w3m"), 0);
}

TEST(AccessList, EmptyItemAllowsEverything) {
  for (const char* list : {",Mozilla", "Mozilla,", "Lynx,,Mozilla"}) {
    EXPECT_EQ(allows("curl", list), 1) << list;
  }
}

TEST(AccessList, NulBytesAreOrdinaryBytes) {
  EXPECT_EQ(allows(std::string("\0g", 2), "x"), 0);
  EXPECT_EQ(allows(std::string("a\0b", 3), std::string("z,\0b", 4)), 1);
}

TEST(AccessList, RefusedListIsLeftAsItWas) {
  std::string list = "a,b,c";
  EXPECT_EQ(cgi::list_allows("xyz", list), 0);
  EXPECT_EQ(list, "a,b,c");
}

}  // namespace
