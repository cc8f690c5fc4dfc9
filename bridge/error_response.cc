#include "error_response.h"

namespace bridge {

std::string error_response(bool nph, const std::string& status,
                           const std::string& explanation) {
  std::string first = nph ? "HTTP/1.0 " + status : "Status: " + status;
  return first + "\r\nContent-Type: text/plain\r\n\r\n" + status + ": " +
         explanation + "\n";
}

}  // namespace bridge
