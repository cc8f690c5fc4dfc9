// messages.h: the error numbers of the CGI program and their messages.
#ifndef WHIRLO_CGI_MESSAGES_H
#define WHIRLO_CGI_MESSAGES_H

#include <ostream>

#include "text/product.h"

namespace cgi {

enum ErrorNumber : int {
  NO_COMMAND_LINE = 1001,
  NO_DATA_FILE = 1002,
  BAD_EXTENSION = 1003,
  NO_OUTPUT_FILE = 1004,
  NO_PICTURES = 1005,
  REFERER_REFUSED = 2001,
  BAD_COMMAND = 2002,
};

inline constexpr char PRODUCT_TITLE[] = WHIRLO_PRODUCT;

/// The reason of 1004 when the output file was opened but writing the
/// response into it, or closing it, failed (a full disk, say).
inline constexpr char OUTPUT_NOT_WRITTEN[] = "Can't write output file";

/// Writes the message of `number` to the error channel: a line feed, the
/// product and number, the reason where there is one, and the help line.
void write_error(std::ostream& errors, int number);

/// The same message with a reason of the caller's instead of the number's.
void write_error(std::ostream& errors, int number, const char* why);

}  // namespace cgi

#endif  // WHIRLO_CGI_MESSAGES_H
