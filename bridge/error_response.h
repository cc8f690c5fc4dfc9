// error_response.h: the bridge's own short answers, for runs that produced
// nothing to relay.
#ifndef WHIRLO_BRIDGE_ERROR_RESPONSE_H
#define WHIRLO_BRIDGE_ERROR_RESPONSE_H

#include <string>

namespace bridge {

/// A plain-text response with `status` ("502 Bad Gateway") and a one-line
/// explanation: a complete HTTP/1.0 response for an NPH bridge, else CGI
/// headers and body.
std::string error_response(bool nph, const std::string& status,
                           const std::string& explanation);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_ERROR_RESPONSE_H
