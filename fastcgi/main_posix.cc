// main_posix.cc: whirlo32-fastcgi, one long-running process that plays
// whirlo32's animations for a web server's FastCGI requests. It listens on
// --fastcgi unix:PATH or ADDRESS:PORT, or on a listening socket given as
// standard input (a server's spawner, systemd).
#include <unistd.h>

#include <string>
#include <vector>

#include "listener_posix.h"
#include "play_service.h"
#include "refusal.h"

namespace {

const char HOW_TO_RUN[] =
    "whirlo32-fastcgi serves FastCGI:\n"
    "  whirlo32-fastcgi --fastcgi unix:PATH [--config PATH]\n"
    "See whirlo32-fastcgi --help and whirlo32-fastcgi(8).\n";

}  // namespace

int main(int argc, char** argv) {
  bridge::set_log_name("whirlo32-fastcgi");
  int inherited = bridge::is_listening_socket(0) ? 0 : -1;
  fastcgi::PlayService service(argc > 0 ? argv[0] : "whirlo32-fastcgi");
  return bridge::service_main(std::vector<std::string>(argv + 1, argv + argc),
                              inherited, service, HOW_TO_RUN);
}
