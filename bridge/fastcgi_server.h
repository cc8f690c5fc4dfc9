// fastcgi_server.h: the bridge's FastCGI mode (POSIX). One process serves
// every request of a web server's FastCGI connections: for each it runs the
// Windows CGI program as the CGI mode does, and relays and paces all the
// streams from one event loop.
#ifndef WHIRLO_BRIDGE_FASTCGI_SERVER_H
#define WHIRLO_BRIDGE_FASTCGI_SERVER_H

#include <string>

#include "service_options.h"

namespace bridge {

/// Serves FastCGI on `listener` until the bridge is asked to stop; then
/// ends every program, removes every folder and returns 0. Returns 1 when
/// the loop cannot be set up.
int serve_fastcgi(int listener, const ServiceOptions& options);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_FASTCGI_SERVER_H
