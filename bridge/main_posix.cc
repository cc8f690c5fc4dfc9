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
#include "service_command.h"
#include "text/product.h"

namespace {

const char HOW_TO_RUN[] =
    "wincgi-bridge runs a Windows CGI program for a web server: a CGI/1.1\n"
    "server runs it once per request, or it serves FastCGI with\n"
    "  wincgi-bridge --fastcgi unix:PATH --program PATH\n"
    "See wincgi-bridge --help and wincgi-bridge(8).\n";

int serve(int argc, char** argv, int inherited) {
  bridge::ServiceCommand command;
  std::string problem;
  if (!bridge::parse_service_command(
          std::vector<std::string>(argv + 1, argv + argc), command, problem)) {
    std::cerr << "wincgi-bridge: " << problem << "\n"
              << "Try wincgi-bridge --help." << std::endl;
    return 2;
  }
  if (command.help) {
    std::cout << bridge::service_usage();
    return 0;
  }
  if (command.version) {
    std::cout << "wincgi-bridge (" WHIRLO_PRODUCT ")" << std::endl;
    return 0;
  }
  if (inherited < 0 && command.options.address.empty()) {
    std::cerr << "wincgi-bridge: no --fastcgi ADDRESS and no listening "
                 "socket as standard input\n"
              << HOW_TO_RUN;
    return 2;
  }
  return bridge::run_service(std::move(command), inherited);
}

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
  if (argc > 1 || inherited >= 0) return serve(argc, argv, inherited);
  if (isatty(0)) {
    std::cerr << HOW_TO_RUN;
    return 2;
  }
  return bridge::run_bridge(argv0);
}
