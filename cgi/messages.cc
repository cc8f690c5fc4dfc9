#include "messages.h"

namespace cgi {
namespace {

const char* reason(int number) {
  switch (number) {
    case kBadExtension: return "invalid picture extension";
    case kNoOutputFile: return "Can't open output file";
    case kNoPictures: return "cannot open picture files";
    case kRefererRefused: return "Referer not allowed";
    case kBadCommand: return "bad command in query string";
    default: return nullptr;
  }
}

}  // namespace

void write_error(std::ostream& errors, int number) {
  write_error(errors, number, reason(number));
}

void write_error(std::ostream& errors, int number, const char* why) {
  errors << '\n' << kProductTitle << ", error : WHL" << number;
  if (why) errors << " (" << why << ')';
  errors << ".\nSee WHIRLO32.HLP for help";
}

}  // namespace cgi
