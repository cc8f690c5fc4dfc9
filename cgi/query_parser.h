// query_parser.h: the command language of the query string.
//
//   base?.EXT?command?command...
//
// Each command is known by its first letter; its argument lies a fixed
// number of characters behind the letter. No URL decoding takes place.
#ifndef WHIRLO_CGI_QUERY_PARSER_H
#define WHIRLO_CGI_QUERY_PARSER_H

#include <cstddef>
#include <ostream>
#include <string>

#include "animation_request.h"

namespace cgi {

inline constexpr int NO_NUMBER = -1000;

/// The one- or two-digit number at `pos` of `text`, or NO_NUMBER.
int read_number(const std::string& text, std::size_t pos);

/// Applies `query` to `request`. The query is uppercased and cut at its
/// first "?". Unknown commands write 2002 to `errors` and are skipped.
/// Returns 0, or 1003 (message written) for an unknown picture extension.
int parse_query(AnimationRequest& request, std::string& query,
                std::ostream& errors);

}  // namespace cgi

#endif  // WHIRLO_CGI_QUERY_PARSER_H
