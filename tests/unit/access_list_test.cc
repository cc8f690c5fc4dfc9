#include "cgi/access_list.h"

#include <gtest/gtest.h>

namespace {

bool allows(const std::string& value, std::string list) {
  return cgi::list_allows(value, list);
}

TEST(AccessList, EmptyValueOrListAllows) {
  EXPECT_TRUE(allows("", "example.com"));
  EXPECT_TRUE(allows("anything", ""));
}

TEST(AccessList, ItemsAreCaseSensitiveSubstrings) {
  EXPECT_TRUE(allows("Mozilla/5.0 (X11)", "Mozilla"));
  EXPECT_TRUE(allows("Opera, compatible Mozilla", "Mozilla"));
  EXPECT_TRUE(allows("Mozilla/5.0", "zilla"));
  EXPECT_FALSE(allows("mozilla/5.0", "Mozilla"));
  EXPECT_TRUE(allows("http://www.example.com.evil/x", "example.com"));
}

TEST(AccessList, LaterItemsAndBlanks) {
  EXPECT_TRUE(allows("Lynx/2.8", "Mozilla,Lynx"));
  EXPECT_FALSE(allows("Lynx/2.8", "Mozilla, Lynx"));
  EXPECT_TRUE(allows("text Lynx/2.8", "Mozilla, Lynx"));
  EXPECT_FALSE(allows("curl", "Mozilla,Lynx,w3m"));
}

TEST(AccessList, EmptyItemAllowsEverything) {
  for (const char* list : {",Mozilla", "Mozilla,", "Lynx,,Mozilla"}) {
    EXPECT_TRUE(allows("curl", list)) << list;
  }
}

TEST(AccessList, NulBytesAreOrdinaryBytes) {
  EXPECT_FALSE(allows(std::string("\0g", 2), "x"));
  EXPECT_TRUE(allows(std::string("a\0b", 3), std::string("z,\0b", 4)));
}

TEST(AccessList, RefusedListIsLeftAsItWas) {
  std::string list = "a,b,c";
  EXPECT_FALSE(cgi::list_allows("xyz", list));
  EXPECT_EQ(list, "a,b,c");
}

}  // namespace
