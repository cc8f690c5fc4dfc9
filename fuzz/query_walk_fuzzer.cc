// parse_query on an arbitrary query, then the step table walked against a
// small folder of real picture files. Input: one flag byte (bit 0: the
// viewer animates), then the query (cut to the 254 characters that the
// data-file reader can deliver).
//
// The player reads its pictures from an in-memory file system made once per
// process (animation_set.h).
//
// Checked are the bounds and promises that hold whatever the query, not
// the parser's rules (the unit and end-to-end tests pin those): parsing
// gives 0 or 1003 and only the messages of its result; the frame range and
// every frame number read stay in 0..99 (end -1 when to be counted) and the
// step table keeps its terminating 0. Playing gives the status line and
// then either the error page (1005 and its message) or whole parts, each
// one of the folder's files with the MIME type of its name, never one from
// outside; a multipart header only for a viewer that animates, at most one
// part without it; and the walk ends.
#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "cgi/animation_request.h"
#include "cgi/player.h"
#include "cgi/query_parser.h"
#include "animation_set.h"
#include "fuzz_support.h"

namespace {

constexpr std::size_t QUERY_LIMIT = 254;
const std::string STATUS = "HTTP/1.0 200 OK\n";
const std::string MULTIPART =
    "Content-type: multipart/x-mixed-replace;boundary=sometext\n\n--sometext\n";
const std::string BOUNDARY = "\n--sometext\n";
const std::string ERROR_PAGE =
    "Content-type: text/html\n\n<html><body>Whirlo-32 V1.2, error : WHL1005 "
    "(cannot open picture files)</body></html>\n--sometext\n";
const std::string BAD_COMMAND =
    "\nWhirlo-32 V1.2, error : WHL2002 (bad command in query string).\n"
    "See WHIRLO32.HLP for help";
const std::string BAD_EXTENSION =
    "\nWhirlo-32 V1.2, error : WHL1003 (invalid picture extension).\n"
    "See WHIRLO32.HLP for help";
const std::string NO_PICTURES =
    "\nWhirlo-32 V1.2, error : WHL1005 (cannot open picture files).\n"
    "See WHIRLO32.HLP for help";

std::uint32_t fixed_clock() { return 1234567; }

std::string uppercased(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return text;
}

std::string upper_extension(const std::string& name) {
  return uppercased(name.size() >= 4 ? name.substr(name.size() - 4) : name);
}

bool repeated(const std::string& text, const std::string& unit) {
  if (text.size() % unit.size() != 0) return false;
  for (std::size_t pos = 0; pos < text.size(); pos += unit.size()) {
    if (text.compare(pos, unit.size(), unit) != 0) return false;
  }
  return true;
}

void check_parsed(const cgi::AnimationRequest& request, int result,
                  const std::string& errors, const std::string& detail) {
  fuzz::check(result == 0 || result == 1003, "parse result is 0 or 1003",
              detail);
  if (result == 1003) {
    fuzz::check(errors == BAD_EXTENSION, "1003 writes its one message", detail);
    return;
  }
  fuzz::check(repeated(errors, BAD_COMMAND), "only 2002 messages", detail);
  fuzz::check(request.start_frame >= 0 && request.start_frame <= 99,
              "start frame in 0..99", detail);
  fuzz::check(request.end_frame >= -1 && request.end_frame <= 99,
              "end frame in 0..99 or -1", detail);
  fuzz::check(request.steps[cgi::MAX_STEPS] == 0,
              "the step table keeps its terminating 0", detail);
}

// Splits the parts after the header; false when some bytes are no part.
bool split_parts(const fuzz::FileSet& set, const std::string& body,
                 std::size_t pos, std::size_t& count, std::string& why) {
  const std::string head = "Content-type: ";
  while (pos < body.size()) {
    if (body.compare(pos, head.size(), head) != 0) {
      why = "bytes that are no part at " + std::to_string(pos);
      return false;
    }
    pos += head.size();
    std::size_t blank = body.find("\n\n", pos);
    if (blank == std::string::npos) {
      why = "a part without its empty line";
      return false;
    }
    std::string mime = body.substr(pos, blank - pos);
    pos = blank + 2;
    std::size_t tag_end = body.find('#', pos + 1);
    if (body.compare(pos, 1, "#") != 0 || tag_end == std::string::npos) {
      why = "a part whose bytes are no file of the set";
      return false;
    }
    std::string tag = body.substr(pos + 1, tag_end - pos - 1);
    if (tag.compare(0, 7, "OUTSIDE") == 0) {
      why = "a file outside the animation folder was sent: " + tag;
      return false;
    }
    auto file = set.inside.find(tag);
    if (file == set.inside.end() ||
        body.compare(pos, file->second.size(), file->second) != 0) {
      why = "a part that is not a whole file of the set: " + tag;
      return false;
    }
    std::string ext = upper_extension(tag);
    const char* expected_mime = ext == ".GIF"   ? "image/gif"
                                : ext == ".JPG" ? "image/jpeg"
                                : ext == ".TIF" ? "image/tif"
                                                : nullptr;
    if (!expected_mime || mime != expected_mime) {
      why = "MIME type " + mime + " for " + tag;
      return false;
    }
    pos += file->second.size();
    if (body.compare(pos, BOUNDARY.size(), BOUNDARY) != 0) {
      why = "a part without its boundary line";
      return false;
    }
    pos += BOUNDARY.size();
    ++count;
  }
  return true;
}

void check_played(const fuzz::FileSet& set,
                  const cgi::AnimationRequest& request, int result,
                  const std::string& body, const std::string& errors,
                  const std::string& detail) {
  fuzz::check(body.compare(0, STATUS.size(), STATUS) == 0,
              "the response starts with the status line", detail);
  if (result == 1005) {
    fuzz::check(body == STATUS + ERROR_PAGE, "1005 writes the error page",
                detail);
    fuzz::check(errors == NO_PICTURES, "1005 writes its message", detail);
    return;
  }
  fuzz::check(result == 0, "playing gives 0 or 1005", detail);
  fuzz::check(errors.empty(), "playing writes no message", detail);
  std::size_t pos = STATUS.size();
  const bool header = body.compare(pos, MULTIPART.size(), MULTIPART) == 0;
  if (header) pos += MULTIPART.size();
  fuzz::check(!header || request.animates,
              "no multipart header for a viewer that does not animate", detail);
  std::size_t parts = 0;
  std::string why;
  fuzz::check(split_parts(set, body, pos, parts, why), "whole parts only",
              detail + ": " + why);
  if (!header) fuzz::check(parts <= 1, "one picture at most", detail);
  // Ten plays of 49 steps of at most 100 frames.
  fuzz::check(parts <= 10 * 49 * 100, "the walk ends", detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  fuzz::FileSet& set = fuzz::file_set();
  const bool animates = data[0] & 1;
  std::string query(reinterpret_cast<const char*>(data) + 1,
                    std::min(size - 1, QUERY_LIMIT));
  const std::string original = query;
  const std::string detail = "query \"" + fuzz::escaped(original) + "\"";

  const std::string read = uppercased(original.substr(0, original.find('\0')));
  for (std::size_t pos = 0; pos <= read.size() + 1; ++pos) {
    int n = cgi::read_number(read, pos);
    fuzz::check(n == cgi::NO_NUMBER || (n >= 0 && n <= 99),
                "read_number gives 0..99 or NO_NUMBER", detail);
  }

  cgi::AnimationRequest request;
  fuzz::start_request(set, request);

  std::ostringstream parse_errors;
  int parsed = cgi::parse_query(request, query, parse_errors);
  check_parsed(request, parsed, parse_errors.str(), detail);
  if (parsed != 0) return 0;

  request.animates = animates;
  std::ostringstream body, play_errors;
  int played =
      cgi::play_request(set.files, request, body, play_errors, fixed_clock);
  check_played(set, request, played, body.str(), play_errors.str(), detail);
  return 0;
}
