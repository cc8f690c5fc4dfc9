// list_allows on arbitrary texts. Input: the value, a line feed, the list.
//
// Checked: the result agrees with a plain split-and-search;
// a refusal leaves the list as it was (its commas are put back); the list
// never changes length.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cgi/access_list.h"
#include "fuzz_support.h"

namespace {

bool expected_result(std::string_view value, std::string_view list) {
  if (value.empty() || list.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = list.find(',', start);
    std::string_view item = list.substr(start, comma - start);
    if (value.find(item) != std::string_view::npos) return true;
    if (comma == std::string_view::npos) return false;
    start = comma + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Both texts come from the profile reader, which ends a value at NUL.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view rest = input.substr(0, input.find('\0'));
  const std::string value = fuzz::take_line(rest);
  const std::string original(rest);
  std::string list = original;

  bool expected = expected_result(value, original);
  bool result = cgi::list_allows(value, list);

  std::string detail = "value \"" + fuzz::escaped(value) + "\" list \"" +
                       fuzz::escaped(original) + "\"";
  fuzz::check(result == expected, "result matches the items", detail);
  fuzz::check(list.size() == original.size(), "list keeps its length", detail);
  if (!result) {
    fuzz::check(list == original, "a refused list is restored",
                detail + " left \"" + fuzz::escaped(list) + "\"");
  }
  return 0;
}
