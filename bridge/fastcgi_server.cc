// The FastCGI service's event loop: epoll over the listener, the
// connections, the programs' ends and an inotify instance for their output
// files. What the events mean is decided in FastcgiCore.
#include "fastcgi_server.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "fastcgi_core.h"
#include "listener_posix.h"
#include "os.h"
#include "os_posix.h"

namespace bridge {
namespace {

constexpr std::size_t READ_BLOCK = 64 * 1024;
// Reads of one connection per event, so that one peer cannot hold the loop.
constexpr int READ_ROUNDS = 16;
// After the grace, queued replies get this long to leave.
constexpr auto LAST_FLUSH = std::chrono::milliseconds(1000);

// An epoll event's data: what it is about in the top byte, a serial below.
enum Source : std::uint64_t { LISTENER = 1, STOP, WATCHES, PEER, PROGRAM };

std::uint64_t tag(Source source, std::uint64_t serial) {
  return (static_cast<std::uint64_t>(source) << 56) | serial;
}

Source source_of(std::uint64_t data) { return static_cast<Source>(data >> 56); }

std::uint64_t serial_of(std::uint64_t data) {
  return data & ((std::uint64_t(1) << 56) - 1);
}

class Server : public Port {
 public:
  Server(int listener, const ServiceOptions& options, RunMaker& maker)
      : listener_(listener),
        options_(options),
        core_(options.limits, maker, *this) {}
  ~Server() override;
  bool open();
  void run();

  long long write(std::uint64_t connection, std::string_view bytes) override;
  void close(std::uint64_t connection) override;
  void arm(std::uint64_t connection, bool read, bool write) override;
  void accept(bool on) override;
  bool started(std::uint64_t request, Run& run) override;
  bool watch_output(std::uint64_t request, Run& run) override;
  void unwatch_output(std::uint64_t request) override;

 private:
  void dispatch(const epoll_event& event);
  void accept_peers();
  void read_peer(std::uint64_t serial);
  void read_watches();
  void last_flush();
  bool watch(int fd, std::uint64_t data, std::uint32_t events);
  int fd_of(std::uint64_t connection) const;

  int listener_;
  const ServiceOptions& options_;
  int epoll_ = -1;
  int watches_ = -1;                       // inotify instance
  std::map<std::uint64_t, int> fds_;       // connection -> socket
  std::map<int, std::uint64_t> watched_;   // inotify watch -> request
  std::map<std::uint64_t, int> watch_of_;  // request -> inotify watch
  FastcgiCore core_;
};

Server::~Server() {
  for (auto& entry : fds_) ::close(entry.second);
  if (watches_ >= 0) ::close(watches_);
  if (epoll_ >= 0) ::close(epoll_);
}

bool Server::watch(int fd, std::uint64_t data, std::uint32_t events) {
  epoll_event event = {};
  event.events = events;
  event.data.u64 = data;
  return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
}

int Server::fd_of(std::uint64_t connection) const {
  auto found = fds_.find(connection);
  return found == fds_.end() ? -1 : found->second;
}

bool Server::open() {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  watches_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  fcntl(listener_, F_SETFD, FD_CLOEXEC);
  fcntl(listener_, F_SETFL, fcntl(listener_, F_GETFL) | O_NONBLOCK);
  if (epoll_ < 0 || !watch(listener_, tag(LISTENER, 0), EPOLLIN)) return false;
  if (stop_fd() >= 0) watch(stop_fd(), tag(STOP, 0), EPOLLIN);
  if (watches_ >= 0) watch(watches_, tag(WATCHES, 0), EPOLLIN);
  return true;
}

// On SIGTERM: no more connections, running streams get the grace, then
// every request still open is ended and the loop returns.
void Server::run() {
  std::vector<epoll_event> events(256);
  for (;;) {
    Clock::time_point now = Clock::now();
    if (stop_requested() && !core_.stopping()) {
      core_.stop(now);
      epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
      if (stop_fd() >= 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, stop_fd(), nullptr);
    }
    if (core_.done(now)) break;
    int timeout = timeout_ms(core_.wake_time(), now);
    if (collect_killed_children(false) > 0 && (timeout < 0 || timeout > 20))
      timeout = 20;  // killed programs are collected soon after they end
    int count = epoll_wait(epoll_, events.data(),
                           static_cast<int>(events.size()), timeout);
    if (count < 0 && errno != EINTR) {
      log_line(std::string("FastCGI event wait failed: ") +
               std::strerror(errno));
      return;
    }
    for (int i = 0; i < count; ++i) dispatch(events[i]);
    core_.tick(Clock::now());
  }
  core_.end_all();
  last_flush();
}

void Server::last_flush() {
  Clock::time_point until = Clock::now() + LAST_FLUSH;
  std::vector<epoll_event> events(64);
  for (;;) {
    bool waiting = core_.flush_all();
    Clock::time_point now = Clock::now();
    if (!waiting || now >= until) return;
    epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
               timeout_ms(until, now));
  }
}

void Server::dispatch(const epoll_event& event) {
  std::uint64_t serial = serial_of(event.data.u64);
  switch (source_of(event.data.u64)) {
    case LISTENER: accept_peers(); break;
    case STOP: break;
    case WATCHES: read_watches(); break;
    case PROGRAM: core_.run_event(serial, Clock::now()); break;
    case PEER:
      if (event.events & EPOLLOUT) core_.writable(serial, Clock::now());
      if (event.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) read_peer(serial);
      break;
  }
}

// Takes connections while the core admits them; a peer that the trust
// rules refuse is closed at once.
void Server::accept_peers() {
  while (core_.may_accept()) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
          errno == ENOMEM)
        core_.accept_failed(std::strerror(errno), Clock::now());
      return;
    }
    std::string why;
    if (!admit_peer(fd, options_, why)) {
      ::close(fd);
      continue;
    }
    std::uint64_t serial = core_.connect();
    if (!watch(fd, tag(PEER, serial), EPOLLIN)) {
      ::close(fd);
      core_.hung_up(serial);
      continue;
    }
    fds_[serial] = fd;
  }
}

void Server::read_peer(std::uint64_t serial) {
  static std::vector<char> block(READ_BLOCK);
  for (int round = 0; round < READ_ROUNDS && core_.reading(serial); ++round) {
    ssize_t got = read(fd_of(serial), block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (got <= 0) {  // the web server closed the connection: end its runs
      core_.hung_up(serial);
      return;
    }
    core_.received(
        serial, std::string_view(block.data(), static_cast<std::size_t>(got)),
        Clock::now());
  }
}

void Server::read_watches() {
  alignas(inotify_event) char events[16 * 1024];
  std::vector<std::uint64_t> changed;
  for (;;) {
    ssize_t got = read(watches_, events, sizeof events);
    if (got <= 0) break;
    for (char* at = events; at < events + got;) {
      const inotify_event* event = reinterpret_cast<const inotify_event*>(at);
      auto found = watched_.find(event->wd);
      if (found != watched_.end()) changed.push_back(found->second);
      at += sizeof(inotify_event) + event->len;
    }
  }
  std::sort(changed.begin(), changed.end());
  changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
  for (std::uint64_t serial : changed) core_.run_event(serial, Clock::now());
}

long long Server::write(std::uint64_t connection, std::string_view bytes) {
  int fd = fd_of(connection);
  for (;;) {
    ssize_t done = ::write(fd, bytes.data(), bytes.size());
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    if (done <= 0) return -1;
    return done;
  }
}

void Server::close(std::uint64_t connection) {
  auto found = fds_.find(connection);
  if (found == fds_.end()) return;
  ::close(found->second);
  fds_.erase(found);
}

void Server::arm(std::uint64_t connection, bool read, bool write) {
  int fd = fd_of(connection);
  if (fd < 0) return;
  epoll_event event = {};
  event.events = (read ? EPOLLIN : 0u) | (write ? EPOLLOUT : 0u);
  event.data.u64 = tag(PEER, connection);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
}

void Server::accept(bool on) {
  if (core_.stopping()) return;  // the listener is no longer watched
  epoll_event event = {};
  event.events = on ? static_cast<std::uint32_t>(EPOLLIN) : 0u;
  event.data.u64 = tag(LISTENER, 0);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &event);
}

// The program's end descriptor closes with the run, which takes it out of
// epoll.
bool Server::started(std::uint64_t request, Run& run) {
  int ended = run.end_event();
  if (ended < 0) return false;
  watch(ended, tag(PROGRAM, request), EPOLLIN);
  return true;
}

bool Server::watch_output(std::uint64_t request, Run& run) {
  std::string file = run.output_file();
  if (watches_ < 0 || file.empty()) return false;
  int wd =
      inotify_add_watch(watches_, file.c_str(), IN_MODIFY | IN_CLOSE_WRITE);
  if (wd < 0) return false;
  watched_[wd] = request;
  watch_of_[request] = wd;
  return true;
}

void Server::unwatch_output(std::uint64_t request) {
  auto found = watch_of_.find(request);
  if (found == watch_of_.end()) return;
  inotify_rm_watch(watches_, found->second);
  watched_.erase(found->second);
  watch_of_.erase(found);
}

}  // namespace

int serve_fastcgi(int listener, const ServiceOptions& options,
                  RunMaker& maker) {
  prepare_process();
  {
    Server server(listener, options, maker);
    if (!server.open()) {
      log_line(std::string("cannot set up the FastCGI event loop: ") +
               std::strerror(errno));
      return 1;
    }
    server.run();
  }  // every program is ended here
  collect_killed_children(true);
  return 0;
}

}  // namespace bridge
