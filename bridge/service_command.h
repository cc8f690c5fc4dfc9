// service_command.h: a FastCGI service's command line and its start: its
// socket, who may connect, the user it runs as, its limits (POSIX). Two
// programs are such services: the bridge's, which runs the Windows CGI
// programs its command line names, and whirlo32-fastcgi, which plays in
// its own process; a ServiceFront holds what sets them apart.
#ifndef WHIRLO_BRIDGE_SERVICE_COMMAND_H
#define WHIRLO_BRIDGE_SERVICE_COMMAND_H

#include <string>
#include <vector>

#include "fastcgi_run.h"
#include "service_options.h"

namespace bridge {

class ServiceFront {
 public:
  virtual ~ServiceFront() = default;
  /// The program's name, for the log and --version.
  virtual const char* name() const = 0;
  /// Its usage lines and its own options, for --help.
  virtual std::string usage() const = 0;
  /// One option of its own with a value: `known` false when `option` is
  /// not one; false with `problem` when the value is not acceptable.
  virtual bool take_option(const std::string& option, const std::string& value,
                           bool& known, std::string& problem) = 0;
  /// Limits that mean nothing to it (no "--"); not accepted, not listed.
  virtual std::vector<std::string> unused_limits() const { return {}; }
  /// With the service's settings read: resolves its own options; false
  /// with `problem` when it cannot serve so.
  virtual bool prepare(ServiceOptions& options, std::string& problem) = 0;
  /// What it serves, for the start line.
  virtual std::string serving(const ServiceOptions& options) const = 0;
  /// True when its runs keep private folders in the temporary root, so
  /// that those of a killed service are removed at the start.
  virtual bool uses_private_folders() const = 0;
  /// What its requests run, for as long as the service serves.
  virtual RunMaker& maker(const ServiceOptions& options) = 0;
};

struct ServiceCommand {
  ServiceOptions options;               // address, network, socket, limits
  std::string user, group;              // to run as, once listening
  std::string peer_user, socket_owner;  // names, resolved at the start
  bool allow_root = false;
  bool help = false;
  bool version = false;
};

/// Reads the words after the program's name. False with `problem` set for
/// an unknown option, a missing or malformed value.
bool parse_service_command(const std::vector<std::string>& words,
                           ServiceFront& front, ServiceCommand& command,
                           std::string& problem);

/// What --help prints: the front's usage, the common options and every
/// limit with its default.
std::string service_usage(const ServiceFront& front);

/// Starts the service as `command` says, on `inherited` (a listening socket
/// a spawner gave as standard input) or -1 for the socket of --fastcgi,
/// serves until asked to stop and removes its socket. The exit code: 0, or
/// 1 with the reason logged when it cannot start.
int run_service(ServiceCommand command, int inherited, ServiceFront& front);

/// The whole command line of a service: --help, --version, a usage error
/// (exit 2, with a hint), no address nor inherited socket (exit 2, with
/// `how_to_run`), else run_service.
int service_main(const std::vector<std::string>& words, int inherited,
                 ServiceFront& front, const char* how_to_run);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SERVICE_COMMAND_H
