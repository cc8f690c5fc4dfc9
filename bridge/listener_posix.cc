#include "listener_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "job.h"

namespace bridge {
namespace {

// Refusals logged per minute; the rest are counted and reported once.
constexpr int REFUSALS_LOGGED = 10;

bool is_loopback(std::uint32_t address_be) {
  return (ntohl(address_be) >> 24) == 127;
}

std::string address_text(std::uint32_t address_be) {
  char text[INET_ADDRSTRLEN] = "";
  in_addr address;
  address.s_addr = address_be;
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool split_address(const std::string& text, std::string& host, int& port) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 >= text.size()) return false;
  host = text.substr(0, colon);
  std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  port = std::stoi(digits);
  return port > 0 && port < 65536;
}

bool bind_and_listen(int fd, const sockaddr* address, socklen_t size,
                     const std::string& name, std::string& problem) {
  if (bind(fd, address, size) == 0 && listen(fd, SOMAXCONN) == 0) return true;
  problem = "cannot listen on " + name + ": " + std::strerror(errno);
  return false;
}

// A socket file whose owner still accepts is someone's live service.
bool clear_stale_socket(const sockaddr_un& address, const std::string& path,
                        std::string& problem) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return true;
  if (!S_ISSOCK(info.st_mode)) {
    problem = "cannot listen on " + path + ": not a socket";
    return false;
  }
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int result = probe < 0
                   ? -1
                   : connect(probe, reinterpret_cast<const sockaddr*>(&address),
                             sizeof address);
  int error = errno;
  if (probe >= 0) close(probe);
  if (result == 0) {
    problem = "cannot listen on " + path + ": already in use";
    return false;
  }
  if (error != ECONNREFUSED) {
    problem = "cannot listen on " + path + ": " + std::strerror(error);
    return false;
  }
  unlink(path.c_str());
  return true;
}

// Bound with no permissions at all, so that nobody connects before the
// owner and mode are set.
bool finish_socket_file(const ServiceOptions& options, mode_t umask_before,
                        Listener& listener, std::string& problem) {
  const char* path = listener.path.c_str();
  if ((options.socket_uid >= 0 || options.socket_gid >= 0) &&
      chown(path, static_cast<uid_t>(options.socket_uid),
            static_cast<gid_t>(options.socket_gid)) != 0) {
    problem =
        "cannot give " + listener.path + " its owner: " + std::strerror(errno);
    return false;
  }
  mode_t mode = options.socket_mode >= 0
                    ? static_cast<mode_t>(options.socket_mode)
                    : (0777 & ~umask_before);
  struct stat info;
  if (chmod(path, mode) != 0 || lstat(path, &info) != 0) {
    problem =
        "cannot set the mode of " + listener.path + ": " + std::strerror(errno);
    return false;
  }
  listener.device = info.st_dev;
  listener.inode = info.st_ino;
  return true;
}

bool listen_unix(const ServiceOptions& options, const std::string& path,
                 Listener& listener, std::string& problem) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    problem = "socket path empty or too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  if (!clear_stale_socket(address, path, problem)) return false;
  listener.fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener.fd < 0) {
    problem = std::string("cannot make a socket: ") + std::strerror(errno);
    return false;
  }
  mode_t umask_before = umask(0777);
  bool bound =
      bind_and_listen(listener.fd, reinterpret_cast<sockaddr*>(&address),
                      sizeof address, path, problem);
  umask(umask_before);
  if (!bound) return false;
  listener.path = path;
  listener.name = "unix:" + path;
  return finish_socket_file(options, umask_before, listener, problem);
}

bool listen_inet(const ServiceOptions& options, Listener& listener,
                 std::string& problem) {
  const std::string& text = options.address;
  std::string host;
  int port = 0;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  if (!split_address(text, host, port) ||
      inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    problem = "not unix:PATH or ADDRESS:PORT: " + text;
    return false;
  }
  if (!options.allow_remote && !is_loopback(address.sin_addr.s_addr)) {
    problem = "refusing to listen on " + text +
              ": not a loopback address (--allow-remote allows it)";
    return false;
  }
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (listener.fd < 0 ||
      setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    problem = std::string("cannot make a socket: ") + std::strerror(errno);
    return false;
  }
  listener.name = text;
  return bind_and_listen(listener.fd, reinterpret_cast<sockaddr*>(&address),
                         sizeof address, text, problem);
}

void log_refusal(const std::string& why) {
  using Clock = std::chrono::steady_clock;
  static Clock::time_point window = Clock::now();
  static int logged = 0;
  static unsigned long long unlogged = 0;
  Clock::time_point now = Clock::now();
  if (now - window >= std::chrono::minutes(1)) {
    if (unlogged > 0)
      log_line(std::to_string(unlogged) +
               " more refused connections were not logged");
    window = now;
    logged = 0;
    unlogged = 0;
  }
  if (logged < REFUSALS_LOGGED) {
    ++logged;
    log_line("connection refused: " + why);
  } else {
    ++unlogged;
  }
}

bool admit_inet(const sockaddr_in& peer, const ServiceOptions& options,
                std::string& why) {
  if (options.allowed_clients.empty()) return true;
  for (std::uint32_t allowed : options.allowed_clients)
    if (allowed == peer.sin_addr.s_addr) return true;
  why = address_text(peer.sin_addr.s_addr) + " is not an allowed client";
  return false;
}

bool admit_unix(int fd, const ServiceOptions& options, std::string& why) {
  if (options.peer_uid < 0) return true;
  ucred credentials = {};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
    why = std::string("peer credentials unknown: ") + std::strerror(errno);
    return false;
  }
  if (credentials.uid == 0 ||
      static_cast<long long>(credentials.uid) == options.peer_uid)
    return true;
  why = "user " + std::to_string(credentials.uid) + " (process " +
        std::to_string(credentials.pid) + ") is not the peer user";
  return false;
}

}  // namespace

bool open_listener(const ServiceOptions& options, Listener& listener,
                   std::string& problem) {
  const std::string& address = options.address;
  bool ok = address.compare(0, 5, "unix:") == 0
                ? listen_unix(options, address.substr(5), listener, problem)
                : listen_inet(options, listener, problem);
  if (!ok) {
    if (!listener.path.empty()) unlink(listener.path.c_str());
    if (listener.fd >= 0) close(listener.fd);
    listener = Listener();
  }
  return ok;
}

bool is_listening_socket(int fd) {
  int listening = 0;
  socklen_t size = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 &&
         listening;
}

bool adopt_listener(int fd, const ServiceOptions& options, Listener& listener,
                    std::string& problem) {
  sockaddr_storage address = {};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    problem = std::string("cannot read the given socket's address: ") +
              std::strerror(errno);
    return false;
  }
  listener = Listener();
  listener.fd = fd;
  if (address.ss_family == AF_UNIX) {
    const sockaddr_un& local = reinterpret_cast<const sockaddr_un&>(address);
    listener.name = std::string("unix:") + local.sun_path + " (given)";
    return true;
  }
  if (address.ss_family != AF_INET) {
    problem = "the given socket is neither unix nor IPv4";
    return false;
  }
  const sockaddr_in& local = reinterpret_cast<const sockaddr_in&>(address);
  listener.name = address_text(local.sin_addr.s_addr) + ":" +
                  std::to_string(ntohs(local.sin_port)) + " (given)";
  if (!options.allow_remote && !is_loopback(local.sin_addr.s_addr)) {
    problem = "refusing to serve " + listener.name +
              ": not a loopback address (--allow-remote allows it)";
    return false;
  }
  return true;
}

void remove_listener(const Listener& listener) {
  if (listener.path.empty()) return;
  struct stat info;
  if (lstat(listener.path.c_str(), &info) == 0 &&
      info.st_dev == listener.device && info.st_ino == listener.inode)
    unlink(listener.path.c_str());
}

bool admit_peer(int fd, const ServiceOptions& options, std::string& why) {
  sockaddr_storage peer = {};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
    why = std::string("peer address unknown: ") + std::strerror(errno);
  } else if (peer.ss_family == AF_INET) {
    if (admit_inet(reinterpret_cast<const sockaddr_in&>(peer), options, why))
      return true;
  } else if (peer.ss_family == AF_UNIX) {
    if (admit_unix(fd, options, why)) return true;
  } else {
    why = "neither a unix nor an IPv4 peer";
  }
  log_refusal(why);
  return false;
}

}  // namespace bridge
