// ini_text.h: turning request text into lines of the Windows CGI data file.
// Every value comes from the client or the server and is treated as hostile:
// nothing that reaches the file can end a line or start a section.
#ifndef WHIRLO_BRIDGE_INI_TEXT_H
#define WHIRLO_BRIDGE_INI_TEXT_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace bridge {

/// Longest value written; longer ones are cut to this many bytes.
constexpr std::size_t MAX_VALUE_BYTES = 4096;

/// The value as written: every control byte (CR, LF, NUL and the rest of
/// 0-31 and 127, tab included) becomes a blank, and the text is cut to
/// MAX_VALUE_BYTES.
std::string clean_value(const std::string& value);

/// The header name of a CGI variable: HTTP_USER_AGENT becomes "User-Agent".
/// Empty when the variable is not HTTP_* or its name holds anything but
/// letters, digits and underscores.
std::string header_key(const std::string& variable);

/// The [Accept] entries of an Accept header: ("image/gif", "Yes") or
/// ("text/html", "level=1;q=0.8"). Malformed and repeated types are left out.
std::vector<std::pair<std::string, std::string>> accept_entries(
    const std::string& accept);

/// The password of a "Basic" Authorization header; false for any other
/// scheme or malformed credentials. `user` gets the name before the colon.
bool basic_credentials(const std::string& authorization, std::string& user,
                       std::string& password);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_INI_TEXT_H
