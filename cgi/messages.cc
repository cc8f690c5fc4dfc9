#include "messages.h"

namespace cgi {
namespace {

const char* reason(int number) {
  switch (number) {
    case BAD_EXTENSION: return "invalid picture extension";
    case NO_OUTPUT_FILE: return "Can't open output file";
    case NO_PICTURES: return "cannot open picture files";
    case REFERER_REFUSED: return "Referer not allowed";
    case BAD_COMMAND: return "bad command in query string";
    default: return nullptr;
  }
}

}  // namespace

void write_error(std::ostream& errors, int number) {
  write_error(errors, number, reason(number));
}

void write_error(std::ostream& errors, int number, const char* why) {
  errors << '\n' << PRODUCT_TITLE << ", error : WHL" << number;
  if (why) errors << " (" << why << ')';
  errors << ".\nSee WHIRLO32.HLP for help";
}

}  // namespace cgi
