// listener_posix.h: the FastCGI service's listening socket: made where its
// options say, checked when inherited, admitting peers, removed at the end.
#ifndef WHIRLO_BRIDGE_LISTENER_POSIX_H
#define WHIRLO_BRIDGE_LISTENER_POSIX_H

#include <string>

#include "service_options.h"

namespace bridge {

struct Listener {
  int fd = -1;
  std::string name;  // what it listens on, for the log
  std::string path;  // the socket file it made; "" for TCP or inherited
  unsigned long long device = 0, inode = 0;  // of that file
};

/// Listens on `options.address`: "unix:PATH" or "ADDRESS:PORT" (IPv4, a
/// loopback address unless `allow_remote`). A socket file already at PATH
/// is replaced only when nothing listens on it; the new one gets the
/// options' mode and owner. False with `problem` set when it cannot.
bool open_listener(const ServiceOptions& options, Listener& listener,
                   std::string& problem);

/// True when descriptor `fd` is a listening socket (how FastCGI spawners
/// hand one over as standard input).
bool is_listening_socket(int fd);

/// Takes over the listening socket `fd` a spawner made: a TCP one must be
/// on loopback unless `allow_remote`. False with `problem` set when not.
bool adopt_listener(int fd, const ServiceOptions& options, Listener& listener,
                    std::string& problem);

/// Removes the socket file `listener` made if it is still that file.
void remove_listener(const Listener& listener);

/// Whether the peer on the accepted connection `fd` may speak to the
/// service: a TCP peer must be in `allowed_clients` (when given), a unix
/// one must run as `peer_uid` or root (when given). A refusal is logged,
/// at most a few lines a minute, and `why` says what it was.
bool admit_peer(int fd, const ServiceOptions& options, std::string& why);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_LISTENER_POSIX_H
