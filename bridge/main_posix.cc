// main_posix.cc: the entry of the bridge on POSIX. A CGI/1.1 program when a
// server runs it per request; a FastCGI service when started with options
// (`--fastcgi ADDRESS`, or a listening socket as standard input).
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "check.h"
#include "listener_posix.h"
#include "run.h"
#include "program_service.h"

namespace {

const char HOW_TO_RUN[] =
    "wincgi-bridge runs a Windows CGI program for a web server: a CGI/1.1\n"
    "server runs it once per request, or it serves FastCGI with\n"
    "  wincgi-bridge --fastcgi unix:PATH --program PATH\n"
    "See wincgi-bridge --help and wincgi-bridge(8).\n";

}  // namespace

int main(int argc, char** argv) {
  // A CGI server may pass words of the query string as arguments: under one
  // (GATEWAY_INTERFACE set) they never choose the mode.
  const char* gateway = std::getenv("GATEWAY_INTERFACE");
  const char* argv0 = argc > 0 ? argv[0] : "";
  if (gateway && *gateway) return bridge::run_bridge(argv0);
  int inherited = bridge::is_listening_socket(0) ? 0 : -1;
  if (argc >= 2 && argc <= 3 && std::string(argv[1]) == "--check")
    return bridge::check_installation(argc == 3 ? argv[2] : argv[0], std::cout);
  if (argc > 1 || inherited >= 0) {
    bridge::ProgramService service;
    return bridge::service_main(std::vector<std::string>(argv + 1, argv + argc),
                                inherited, service, HOW_TO_RUN);
  }
  if (isatty(0)) {
    std::cerr << HOW_TO_RUN;
    return 2;
  }
  return bridge::run_bridge(argv0);
}
