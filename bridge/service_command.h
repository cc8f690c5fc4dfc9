// service_command.h: the FastCGI service's command line, and its start:
// the programs it serves, its socket, the user it runs as (POSIX).
#ifndef WHIRLO_BRIDGE_SERVICE_COMMAND_H
#define WHIRLO_BRIDGE_SERVICE_COMMAND_H

#include <string>
#include <vector>

#include "service_options.h"

namespace bridge {

struct ServiceCommand {
  ServiceOptions options;  // address, network and socket options, limits
  std::vector<std::string> programs;         // --program, as given
  std::vector<std::string> program_folders;  // --programs, as given
  std::string user, group;                   // to run as, once listening
  std::string peer_user, socket_owner;       // names, resolved at the start
  bool allow_root = false;
  bool help = false;
  bool version = false;
};

/// Reads the words after the program's name. False with `problem` set for
/// an unknown option, a missing or malformed value.
bool parse_service_command(const std::vector<std::string>& words,
                           ServiceCommand& command, std::string& problem);

/// What --help prints: the ways the bridge runs, every option and every
/// limit with its default.
std::string service_usage();

/// Starts the service as `command` says, on `inherited` (a listening socket
/// a spawner gave as standard input) or -1 for the socket of --fastcgi,
/// serves until asked to stop and removes its socket. The exit code: 0, or
/// 1 with the reason logged when it cannot start.
int run_service(ServiceCommand command, int inherited);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SERVICE_COMMAND_H
