// The response whirlo32-fastcgi makes as it sends it, against whirlo32's
// own for the same query. Input: one flag byte (bit 0: the viewer animates;
// bits 1-2: the reader's block size), then the query (cut to the 254
// characters the data-file reader delivers). The pictures come from the
// set of animation_set.h.
//
// Checked: the bytes handed out, in whatever blocks, are whirlo32's; a
// read never runs past the end of the response's start or of a part; begin's
// result and messages are whirlo32's; and fits() says exactly whether the
// response fits a limit.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "animation_set.h"
#include "cgi/animation_request.h"
#include "cgi/player.h"
#include "cgi/query_parser.h"
#include "fuzz_support.h"
#include "play_source.h"

namespace {

constexpr std::size_t QUERY_LIMIT = 254;
constexpr std::uint32_t SEED = 1234567;
const std::string PART_END = "\n--sometext\n";
const std::size_t BLOCKS[] = {1, 13, 4096, 65536};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  fuzz::FileSet& set = fuzz::file_set();
  std::string query(reinterpret_cast<const char*>(data) + 1,
                    std::min(size - 1, QUERY_LIMIT));
  const std::string detail = "query \"" + fuzz::escaped(query) + "\"";
  auto request = std::make_unique<cgi::AnimationRequest>();
  fuzz::start_request(set, *request);
  std::ostringstream ignored;
  if (cgi::parse_query(*request, query, ignored) != 0) return 0;
  request->animates = data[0] & 1;

  auto copy = fastcgi::copy_request(*request);
  std::ostringstream whole, whole_errors;
  int played = cgi::play_request(set.files, *copy, whole, whole_errors,
                                 [] { return SEED; });
  const std::string expected = whole.str();

  fastcgi::PlaySource source(set.files, std::move(request), SEED);
  std::ostringstream errors;
  fuzz::check(source.begin(errors) == played, "begin gives whirlo32's result",
              detail);
  fuzz::check(errors.str() == whole_errors.str(), "whirlo32's messages",
              detail);
  fuzz::check(source.fits(expected.size()), "fits its own size", detail);
  fuzz::check(!source.fits(expected.size() - 1), "not a byte less", detail);

  const std::size_t block = BLOCKS[(data[0] >> 1) & 3];
  std::string buffer(block, '\0'), made;
  while (std::size_t got = source.read(&buffer[0], block)) {
    fuzz::check(got <= block, "a read fits its block", detail);
    std::size_t end = std::string_view(buffer.data(), got).find(PART_END);
    fuzz::check(end == std::string::npos || end + PART_END.size() == got,
                "a read ends where its part ends", detail);
    made.append(buffer, 0, got);
    fuzz::check(made.size() <= expected.size(), "no more than whirlo32's",
                detail);
  }
  fuzz::check(made == expected, "whirlo32's bytes", detail);
  return 0;
}
