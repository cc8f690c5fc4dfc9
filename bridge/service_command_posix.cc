#include "service_command.h"

#include <arpa/inet.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "fastcgi_server.h"
#include "job.h"
#include "listener_posix.h"
#include "os.h"
#include "os_posix.h"
#include "settings.h"
#include "text/product.h"

namespace bridge {
namespace {

constexpr std::uint64_t MAX_ID = 0xfffffffe;  // (uid_t)-1 means "unchanged"

const char COMMON_OPTIONS[] =
    "  --fastcgi unix:PATH|ADDRESS:PORT  the socket to listen on (else a "
    "listening\n"
    "                       socket as standard input)\n"
    "  --allow-remote       listen on an address other than loopback\n"
    "  --allowed-clients A[,A...]  only these IPv4 peers (default: any)\n"
    "  --peer-user NAME     unix socket: only NAME's (and root's) "
    "connections\n"
    "  --user NAME          run as NAME once listening\n"
    "  --group NAME         run as group NAME (default: NAME's group)\n"
    "  --allow-root         keep running as root (refused by default)\n"
    "  --socket-mode OCTAL  mode of the socket it makes (default: from the "
    "umask)\n"
    "  --socket-owner USER[:GROUP]  owner of the socket it makes\n"
    "  --help, --version\n";

bool is_unused_limit(const ServiceFront& front, const std::string& name) {
  for (const std::string& unused : front.unused_limits())
    if (name == unused) return true;
  return false;
}

bool parse_clients(const std::string& text, ServiceOptions& options,
                   std::string& problem) {
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string one = text.substr(start, comma - start);
    in_addr address;
    if (inet_pton(AF_INET, one.c_str(), &address) != 1) {
      problem = "--allowed-clients: not an IPv4 address: " + one;
      return false;
    }
    options.allowed_clients.push_back(address.s_addr);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool parse_mode(const std::string& text, long& mode, std::string& problem) {
  if (text.empty() || text.size() > 4 ||
      text.find_first_not_of("01234567") != std::string::npos) {
    problem = "--socket-mode must be an octal mode such as 660: " + text;
    return false;
  }
  mode = std::stol(text, nullptr, 8);
  return true;
}

// An option with a value.
bool take_option(const std::string& name, const std::string& value,
                 ServiceFront& front, ServiceCommand& command,
                 std::string& problem) {
  ServiceOptions& options = command.options;
  if (name == "--fastcgi") {
    options.address = value;
  } else if (name == "--allowed-clients") {
    return parse_clients(value, options, problem);
  } else if (name == "--peer-user") {
    command.peer_user = value;
  } else if (name == "--user") {
    command.user = value;
  } else if (name == "--group") {
    command.group = value;
  } else if (name == "--socket-mode") {
    return parse_mode(value, options.socket_mode, problem);
  } else if (name == "--socket-owner") {
    command.socket_owner = value;
  } else {
    bool known = false;
    if (front.take_option(name, value, known, problem)) return true;
    if (known) return false;
    if (!is_unused_limit(front, name.substr(2)) &&
        set_limit(name.substr(2), value, options.limits, known, problem))
      return true;
    if (!known) problem = "unknown option " + name;
    return false;
  }
  return true;
}

bool user_id(const std::string& name, long long& uid, long long& gid,
             std::string& problem) {
  std::uint64_t number = 0;
  if (parse_decimal(name, MAX_ID, number)) {
    uid = static_cast<long long>(number);
    const passwd* entry = getpwuid(static_cast<uid_t>(number));
    gid = entry ? entry->pw_gid : -1;
    return true;
  }
  const passwd* entry = getpwnam(name.c_str());
  if (!entry) {
    problem = "no such user: " + name;
    return false;
  }
  uid = entry->pw_uid;
  gid = entry->pw_gid;
  return true;
}

bool group_id(const std::string& name, long long& gid, std::string& problem) {
  std::uint64_t number = 0;
  if (parse_decimal(name, MAX_ID, number)) {
    gid = static_cast<long long>(number);
    return true;
  }
  const group* entry = getgrnam(name.c_str());
  if (!entry) {
    problem = "no such group: " + name;
    return false;
  }
  gid = entry->gr_gid;
  return true;
}

bool resolve_socket_owner(const std::string& owner, ServiceOptions& options,
                          std::string& problem) {
  if (owner.empty()) return true;
  std::size_t colon = owner.find(':');
  long long unused = -1;
  if (colon == std::string::npos)
    return user_id(owner, options.socket_uid, options.socket_gid, problem);
  if (colon > 0 &&
      !user_id(owner.substr(0, colon), options.socket_uid, unused, problem))
    return false;
  return group_id(owner.substr(colon + 1), options.socket_gid, problem);
}

// setgroups, setgid, setuid, each checked, then that root cannot come back.
bool drop_privileges(const ServiceCommand& command, std::string& problem) {
  long long uid = -1, gid = -1;
  if (!command.user.empty() && !user_id(command.user, uid, gid, problem))
    return false;
  if (!command.group.empty() && !group_id(command.group, gid, problem))
    return false;
  bool same_user = uid < 0 || uid == static_cast<long long>(geteuid());
  bool same_group = gid < 0 || gid == static_cast<long long>(getegid());
  if (geteuid() != 0 && same_user && same_group) return true;
  if (gid >= 0) {
    gid_t group_id = static_cast<gid_t>(gid);
    if (setgroups(1, &group_id) != 0 || setgid(group_id) != 0) {
      problem = "cannot change to group " + std::to_string(gid) + ": " +
                std::strerror(errno);
      return false;
    }
  }
  if (uid >= 0) {
    if (setuid(static_cast<uid_t>(uid)) != 0 || (uid != 0 && setuid(0) == 0)) {
      problem =
          "cannot change to user " + command.user + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool prepare(ServiceCommand& command, ServiceFront& front,
             std::string& problem) {
  ServiceOptions& options = command.options;
  if (!read_settings(environment(), options.settings, problem)) return false;
  if (!front.prepare(options, problem)) return false;
  long long unused = -1;
  if (!command.peer_user.empty() &&
      !user_id(command.peer_user, options.peer_uid, unused, problem))
    return false;
  if (!resolve_socket_owner(command.socket_owner, options, problem))
    return false;
  if (geteuid() == 0 && command.user.empty() && !command.allow_root) {
    problem =
        "refusing to run as root: give --user NAME to run as (or "
        "--allow-root)";
    return false;
  }
  return true;
}

void log_start(const ServiceCommand& command, const ServiceFront& front,
               const Listener& listener) {
  log_line("FastCGI service on " + listener.name + " as user " +
           std::to_string(geteuid()) + ", serving " +
           front.serving(command.options));
}

}  // namespace

bool parse_service_command(const std::vector<std::string>& words,
                           ServiceFront& front, ServiceCommand& command,
                           std::string& problem) {
  for (std::size_t at = 0; at < words.size(); ++at) {
    const std::string& word = words[at];
    if (word == "--help") {
      command.help = true;
    } else if (word == "--version") {
      command.version = true;
    } else if (word == "--allow-root") {
      command.allow_root = true;
    } else if (word == "--allow-remote") {
      command.options.allow_remote = true;
    } else if (word.compare(0, 2, "--") != 0 || word.size() == 2) {
      problem = "not an option: " + word;
      return false;
    } else if (at + 1 >= words.size()) {
      problem = word + " needs a value";
      return false;
    } else if (!take_option(word, words[++at], front, command, problem)) {
      return false;
    }
  }
  return true;
}

std::string service_usage(const ServiceFront& front) {
  std::string text = front.usage();
  text += COMMON_OPTIONS;
  text += "\nLimits (--NAME VALUE):\n";
  for (const std::string& line : limit_help()) {
    std::string name = line.substr(2, line.find(' ') - 2);
    if (!is_unused_limit(front, name)) text += "  " + line + "\n";
  }
  return text;
}

int run_service(ServiceCommand command, int inherited, ServiceFront& front) {
  std::string problem;
  Listener listener;
  bool ok = prepare(command, front, problem) &&
            (inherited >= 0
                 ? adopt_listener(inherited, command.options, listener, problem)
                 : open_listener(command.options, listener, problem)) &&
            drop_privileges(command, problem);
  if (!ok) {
    log_line(problem);
    remove_listener(listener);
    return 1;
  }
  if (front.uses_private_folders()) {
    const std::string& root = command.options.settings.temp_root;
    std::size_t swept =
        sweep_temp_root(root.empty() ? default_temp_root() : root);
    if (swept > 0)
      log_line("removed " + std::to_string(swept) +
               " folders left by bridges that were stopped");
  }
  log_start(command, front, listener);
  int code =
      serve_fastcgi(listener.fd, command.options, front.maker(command.options));
  remove_listener(listener);
  return code;
}

int service_main(const std::vector<std::string>& words, int inherited,
                 ServiceFront& front, const char* how_to_run) {
  ServiceCommand command;
  std::string problem;
  if (!parse_service_command(words, front, command, problem)) {
    std::cerr << front.name() << ": " << problem << "\n"
              << "Try " << front.name() << " --help." << std::endl;
    return 2;
  }
  if (command.help) {
    std::cout << service_usage(front);
    return 0;
  }
  if (command.version) {
    std::cout << front.name() << " (" WHIRLO_PRODUCT ")" << std::endl;
    return 0;
  }
  if (inherited < 0 && command.options.address.empty()) {
    std::cerr << front.name()
              << ": no --fastcgi ADDRESS and no listening socket as standard "
                 "input\n"
              << how_to_run;
    return 2;
  }
  return run_service(std::move(command), inherited, front);
}

}  // namespace bridge
