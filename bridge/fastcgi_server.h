// fastcgi_server.h: the FastCGI service's event loop (POSIX). One process
// serves every request of a web server's FastCGI connections: for each it
// opens a run (the bridge's runs the Windows CGI program as the CGI mode
// does; whirlo32-fastcgi's plays in the process), and relays and paces all
// the streams from one event loop.
#ifndef WHIRLO_BRIDGE_FASTCGI_SERVER_H
#define WHIRLO_BRIDGE_FASTCGI_SERVER_H

#include <string>

#include "fastcgi_run.h"
#include "service_options.h"

namespace bridge {

/// Serves FastCGI on `listener` with the runs `maker` opens until the
/// service is asked to stop; then ends every run (programs and folders
/// too) and returns 0. Returns 1 when the loop cannot be set up.
int serve_fastcgi(int listener, const ServiceOptions& options, RunMaker& maker);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_FASTCGI_SERVER_H
