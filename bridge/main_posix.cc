// main_posix.cc: the entry of the bridge on POSIX. A CGI/1.1 program when a
// server runs it per request; a FastCGI server when started with
// `--fastcgi ADDRESS`, or with no arguments and a listening socket as
// standard input.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "fastcgi_server.h"
#include "run.h"

int main(int argc, char** argv) {
  // A CGI server may pass words of the query string as arguments: under one
  // (GATEWAY_INTERFACE set) they never choose the mode.
  const char* gateway = std::getenv("GATEWAY_INTERFACE");
  bool under_cgi = gateway && *gateway;
  if (!under_cgi && argc >= 3 && argc % 2 == 1 &&
      std::strcmp(argv[1], "--fastcgi") == 0) {
    std::string problem;
    bridge::ServiceOptions options;
    for (int i = 3; i + 1 < argc; i += 2) {
      bool known = false;
      if (std::strncmp(argv[i], "--", 2) != 0 ||
          !bridge::set_limit(argv[i] + 2, argv[i + 1], options.limits, known,
                             problem)) {
        std::cerr << "wincgi-bridge: "
                  << (known ? problem
                            : std::string("unknown option ") + argv[i])
                  << std::endl;
        return 2;
      }
    }
    int listener = bridge::open_listener(argv[2], problem);
    if (listener < 0) {
      std::cerr << "wincgi-bridge: " << problem << std::endl;
      return 1;
    }
    options.address = argv[2];
    return bridge::serve_fastcgi(listener, options);
  }
  if (!under_cgi && argc == 1 && bridge::is_listening_socket(0))
    return bridge::serve_fastcgi(0, bridge::ServiceOptions());
  if (!under_cgi && argc > 1) {
    std::cerr
        << "usage: wincgi-bridge                      (run by a CGI/1.1 "
           "server)\n"
           "       wincgi-bridge --fastcgi unix:PATH  (or ADDRESS:PORT)\n";
    return 2;
  }
  return bridge::run_bridge(argc > 0 ? argv[0] : "");
}
