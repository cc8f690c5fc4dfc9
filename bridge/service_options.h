// service_options.h: how the FastCGI service was told to run by its own
// command line and environment (never by a peer).
#ifndef WHIRLO_BRIDGE_SERVICE_OPTIONS_H
#define WHIRLO_BRIDGE_SERVICE_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "service_limits.h"
#include "settings.h"

namespace bridge {

struct ServiceOptions {
  std::string address;  // "unix:PATH", "ADDRESS:PORT", "" = socket on stdin
  // The programs it may run and the folders whose programs it may run, as
  // canonical paths.
  std::vector<std::string> programs;
  std::vector<std::string> program_folders;
  // The service's own settings (its environment); a request's parameters
  // may only lower their limits and choose the frame interval.
  Settings settings;
  bool allow_remote = false;  // TCP on an address other than loopback
  // IPv4 addresses (network byte order) that may connect; empty = any.
  std::vector<std::uint32_t> allowed_clients;
  long long peer_uid = -1;  // unix socket: the only user (and root) admitted
  long socket_mode = -1;    // unix socket: its permission bits; -1 = umask
  long long socket_uid = -1, socket_gid = -1;  // unix socket: its owner
  Limits limits;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SERVICE_OPTIONS_H
