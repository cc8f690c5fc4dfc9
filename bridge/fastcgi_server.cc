#include "fastcgi_server.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <vector>

#include "error_response.h"
#include "fastcgi.h"
#include "job.h"
#include "listener_posix.h"
#include "os_posix.h"
#include "stream.h"

namespace bridge {
namespace {

// Bytes queued for one connection before its streams wait for the client.
constexpr std::size_t HIGH_WATER = 256 * 1024;
constexpr std::size_t READ_BLOCK = 64 * 1024;
// Without a pidfd or an inotify watch, a run is looked at this often.
constexpr auto FALLBACK_STEP = std::chrono::milliseconds(5);

// An epoll event's data: what it is about in the top byte, a serial below.
enum Source : std::uint64_t { LISTENER = 1, STOP, WATCHES, PEER, PROGRAM };

std::uint64_t tag(Source source, std::uint64_t serial) {
  return (static_cast<std::uint64_t>(source) << 56) | serial;
}

Source source_of(std::uint64_t data) { return static_cast<Source>(data >> 56); }

std::uint64_t serial_of(std::uint64_t data) {
  return data & ((std::uint64_t(1) << 56) - 1);
}

struct Request {
  std::uint64_t serial = 0;
  std::uint64_t peer = 0;  // serial of its connection
  unsigned id = 0;         // its FastCGI request id
  Job job;
  BodySpool body;
  std::unique_ptr<Stream> stream;  // once the program runs
  int watch = -1;                  // inotify watch of the output file
  Clock::time_point scheduled = Clock::time_point::max();
};

struct Peer {
  std::uint64_t serial = 0;
  int fd = -1;
  fcgi::Connection protocol;
  std::string out;  // bytes for the web server, from `sent` on
  std::size_t sent = 0;
  bool writable_armed = false;
  bool closing = false;                        // close once `out` has gone
  std::map<unsigned, std::uint64_t> requests;  // FastCGI id -> serial
  std::size_t queued() const { return out.size() - sent; }
};

Environment to_environment(const fcgi::Params& params) {
  Environment env;
  for (const auto& pair : params) env.emplace(pair.first, pair.second);
  return env;
}

class Server;

// Hands one connection's requests to the server.
class PeerListener : public fcgi::Listener {
 public:
  PeerListener(Server& server, Peer& peer) : server_(server), peer_(peer) {}
  void on_request(unsigned id, fcgi::Params params) override;
  void on_stdin(unsigned id, std::string_view data) override;
  void on_abort(unsigned id) override;

 private:
  Server& server_;
  Peer& peer_;
};

class Server {
 public:
  Server(int listener, const ServiceOptions& options)
      : listener_(listener), options_(options) {}
  ~Server();
  bool open();
  void run();

  void begin_request(Peer& peer, unsigned id, fcgi::Params params);
  void body_bytes(Peer& peer, unsigned id, std::string_view data);
  void abort_request(Peer& peer, unsigned id);

 private:
  using Timer = std::pair<Clock::time_point, std::uint64_t>;

  void dispatch(const epoll_event& event);
  void accept_peers();
  void read_peer(Peer& peer);
  void flush(Peer& peer);
  void resume(Peer& peer);
  void close_peer(std::uint64_t serial);
  void send(Peer& peer, std::string bytes);
  void send_stdout(Peer& peer, unsigned id, std::string_view data);
  void end_request(Peer& peer, unsigned id);
  void refuse(Peer& peer, unsigned id, bool nph, const Refusal& refusal);

  void start(Request& request);
  void service(std::uint64_t serial, Clock::time_point now);
  void finish(Request& request);
  void drop(std::uint64_t serial);
  void update_watch(Request& request);
  void schedule(Request& request, Clock::time_point now);
  void read_watches();
  void run_timers(Clock::time_point now);
  int wait_timeout(Clock::time_point now);

  Request* find(std::uint64_t serial);
  Request* find(Peer& peer, unsigned id);
  bool watch(int fd, std::uint64_t data, std::uint32_t events);

  int listener_;
  const ServiceOptions& options_;
  int epoll_ = -1;
  int watches_ = -1;  // inotify instance
  std::uint64_t next_serial_ = 1;
  std::map<std::uint64_t, std::unique_ptr<Peer>> peers_;
  std::map<std::uint64_t, std::unique_ptr<Request>> requests_;
  std::map<int, std::uint64_t> watched_;  // inotify watch -> request
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
  std::vector<std::uint64_t> to_close_;
};

void PeerListener::on_request(unsigned id, fcgi::Params params) {
  server_.begin_request(peer_, id, std::move(params));
}

void PeerListener::on_stdin(unsigned id, std::string_view data) {
  server_.body_bytes(peer_, id, data);
}

void PeerListener::on_abort(unsigned id) { server_.abort_request(peer_, id); }

Server::~Server() {
  requests_.clear();  // ends every program and removes every folder
  for (auto& entry : peers_) close(entry.second->fd);
  if (watches_ >= 0) close(watches_);
  if (epoll_ >= 0) close(epoll_);
}

bool Server::watch(int fd, std::uint64_t data, std::uint32_t events) {
  epoll_event event = {};
  event.events = events;
  event.data.u64 = data;
  return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0;
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

void Server::run() {
  std::vector<epoll_event> events(256);
  while (!stop_requested()) {
    int count =
        epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
                   wait_timeout(Clock::now()));
    if (count < 0 && errno != EINTR) {
      log_line(std::string("FastCGI event wait failed: ") +
               std::strerror(errno));
      return;
    }
    for (int i = 0; i < count; ++i) dispatch(events[i]);
    run_timers(Clock::now());
    std::vector<std::uint64_t> closing;
    closing.swap(to_close_);
    for (std::uint64_t serial : closing) close_peer(serial);
  }
}

void Server::dispatch(const epoll_event& event) {
  std::uint64_t serial = serial_of(event.data.u64);
  switch (source_of(event.data.u64)) {
    case LISTENER: accept_peers(); break;
    case STOP: break;
    case WATCHES: read_watches(); break;
    case PROGRAM: service(serial, Clock::now()); break;
    case PEER: {
      auto found = peers_.find(serial);
      if (found == peers_.end()) break;
      Peer& peer = *found->second;
      if (event.events & EPOLLOUT) {
        flush(peer);
        resume(peer);
      }
      if (event.events & (EPOLLIN | EPOLLHUP | EPOLLERR)) read_peer(peer);
      break;
    }
  }
}

void Server::accept_peers() {
  for (;;) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN, or out of descriptors: try again on the next event
    }
    std::string why;
    if (!admit_peer(fd, options_, why)) {
      close(fd);
      continue;
    }
    auto peer = std::make_unique<Peer>();
    peer->serial = next_serial_++;
    peer->fd = fd;
    if (!watch(fd, tag(PEER, peer->serial), EPOLLIN | EPOLLRDHUP)) {
      close(fd);
      continue;
    }
    peers_.emplace(peer->serial, std::move(peer));
  }
}

void Server::read_peer(Peer& peer) {
  static std::vector<char> block(READ_BLOCK);
  for (int round = 0; round < 16; ++round) {
    ssize_t got = read(peer.fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {  // the web server closed the connection: end its runs
      to_close_.push_back(peer.serial);
      return;
    }
    PeerListener listener(*this, peer);
    bool ok = peer.protocol.feed(block.data(), static_cast<std::size_t>(got),
                                 listener);
    if (!peer.protocol.replies().empty()) {
      send(peer, std::move(peer.protocol.replies()));
      peer.protocol.replies().clear();
    }
    if (!ok) {
      log_line("FastCGI protocol error: connection closed");
      to_close_.push_back(peer.serial);
      return;
    }
    if (peer.protocol.close_after_replies()) peer.closing = true;
    if (peer.closing && peer.queued() == 0) to_close_.push_back(peer.serial);
  }
}

void Server::send(Peer& peer, std::string bytes) {
  if (peer.queued() == 0) {
    peer.out = std::move(bytes);
    peer.sent = 0;
  } else {
    peer.out += bytes;
  }
  flush(peer);
}

void Server::flush(Peer& peer) {
  while (peer.queued() > 0) {
    ssize_t done = write(peer.fd, peer.out.data() + peer.sent, peer.queued());
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (done <= 0) {
      to_close_.push_back(peer.serial);
      return;
    }
    peer.sent += static_cast<std::size_t>(done);
  }
  if (peer.sent > HIGH_WATER || peer.queued() == 0) {
    peer.out.erase(0, peer.sent);
    peer.sent = 0;
  }
  bool arm = peer.queued() > 0;
  if (arm != peer.writable_armed) {
    epoll_event event = {};
    event.events = EPOLLIN | EPOLLRDHUP | (arm ? EPOLLOUT : 0u);
    event.data.u64 = tag(PEER, peer.serial);
    epoll_ctl(epoll_, EPOLL_CTL_MOD, peer.fd, &event);
    peer.writable_armed = arm;
  }
  if (!arm && peer.closing) to_close_.push_back(peer.serial);
}

// After the client has taken queued bytes, streams that waited may go on.
void Server::resume(Peer& peer) {
  if (peer.queued() >= HIGH_WATER) return;
  std::vector<std::uint64_t> waiting;
  for (const auto& entry : peer.requests) waiting.push_back(entry.second);
  for (std::uint64_t serial : waiting) service(serial, Clock::now());
}

void Server::close_peer(std::uint64_t serial) {
  auto found = peers_.find(serial);
  if (found == peers_.end()) return;
  std::vector<std::uint64_t> runs;
  for (const auto& entry : found->second->requests)
    runs.push_back(entry.second);
  for (std::uint64_t run : runs) drop(run);
  close(found->second->fd);
  peers_.erase(found);
}

void Server::send_stdout(Peer& peer, unsigned id, std::string_view data) {
  std::string records;
  fcgi::append_stream(records, fcgi::STDOUT, id, data);
  send(peer, std::move(records));
}

void Server::end_request(Peer& peer, unsigned id) {
  std::string records;
  fcgi::append_stream(records, fcgi::STDOUT, id, std::string_view());
  fcgi::append_end_request(records, id, 0, fcgi::REQUEST_COMPLETE);
  bool keep = peer.protocol.keep_connection(id);
  peer.protocol.finished(id);
  auto found = peer.requests.find(id);
  if (found != peer.requests.end()) {
    std::uint64_t serial = found->second;
    peer.requests.erase(found);
    drop(serial);
  }
  if (!keep) peer.closing = true;
  send(peer, std::move(records));
}

void Server::refuse(Peer& peer, unsigned id, bool nph, const Refusal& refusal) {
  log_line(refusal.status + ": " + refusal.reason);
  send_stdout(peer, id, error_response(nph, refusal.status, refusal.reason));
  end_request(peer, id);
}

Request* Server::find(std::uint64_t serial) {
  auto found = requests_.find(serial);
  return found == requests_.end() ? nullptr : found->second.get();
}

Request* Server::find(Peer& peer, unsigned id) {
  auto found = peer.requests.find(id);
  return found == peer.requests.end() ? nullptr : find(found->second);
}

// The data file comes from the parameters; what runs, where its files go
// and the limits from the service's own options.
void Server::begin_request(Peer& peer, unsigned id, fcgi::Params params) {
  auto request = std::make_unique<Request>();
  request->serial = next_serial_++;
  request->peer = peer.serial;
  request->id = id;
  Environment env = to_environment(params);
  std::string script = env_value(env, "SCRIPT_FILENAME");
  Request& run = *request;
  peer.requests[id] = run.serial;
  requests_.emplace(run.serial, std::move(request));
  Refusal refusal;
  if (script.empty()) {
    refuse(peer, id, false,
           {"500 Internal Server Error", "no SCRIPT_FILENAME parameter"});
    return;
  }
  if (!open_service_job(std::move(env), options_, script, run.job, refusal)) {
    refuse(peer, id, run.job.nph, refusal);
    return;
  }
  BodyResult body =
      run.body.begin(env_value(run.job.env, "CONTENT_LENGTH"),
                     run.job.settings.max_body, run.job.spool.files().content);
  if (body != BodyResult::OK) refuse(peer, id, run.job.nph, body_refusal(body));
}

void Server::body_bytes(Peer& peer, unsigned id, std::string_view data) {
  Request* request = find(peer, id);
  if (!request || request->stream) return;
  BodyResult result = data.empty()
                          ? request->body.end()
                          : request->body.add(data.data(), data.size());
  if (result != BodyResult::OK) {
    refuse(peer, id, request->job.nph, body_refusal(result));
  } else if (data.empty()) {
    start(*request);
  }
}

void Server::abort_request(Peer& peer, unsigned id) {
  if (find(peer, id)) end_request(peer, id);
}

void Server::start(Request& request) {
  Peer& peer = *peers_.at(request.peer);
  Child child;
  Refusal refusal;
  if (!start_job(request.job, request.body.length(), child, refusal)) {
    refuse(peer, request.id, request.job.nph, refusal);
    return;
  }
  request.stream = std::make_unique<Stream>(
      std::move(child), request.job.spool.files().output, request.job.settings,
      request.job.nph, Clock::now());
  int ended = request.stream->child().event;
  if (ended >= 0) watch(ended, tag(PROGRAM, request.serial), EPOLLIN);
  service(request.serial, Clock::now());
}

// Everything due for one run: its program's end, its output, its next
// part, its time limit. The run may be over afterwards.
void Server::service(std::uint64_t serial, Clock::time_point now) {
  Request* request = find(serial);
  if (!request || !request->stream) return;
  Stream& stream = *request->stream;
  Peer& peer = *peers_.at(request->peer);
  stream.update(now);
  std::string piece;
  while (peer.queued() < HIGH_WATER && stream.take(now, piece))
    send_stdout(peer, request->id, piece);
  if (stream.finished()) {
    finish(*request);
    return;
  }
  update_watch(*request);
  schedule(*request, now);
}

void Server::finish(Request& request) {
  Peer& peer = *peers_.at(request.peer);
  request.stream->end_program();
  Refusal refusal;
  if (judge_run(request.job, request.stream->report(), refusal)) {
    refuse(peer, request.id, request.job.nph, refusal);
  } else {
    end_request(peer, request.id);
  }
}

void Server::drop(std::uint64_t serial) {
  auto found = requests_.find(serial);
  if (found == requests_.end()) return;
  Request& request = *found->second;
  if (request.watch >= 0) {
    inotify_rm_watch(watches_, request.watch);
    watched_.erase(request.watch);
  }
  auto peer = peers_.find(request.peer);
  if (peer != peers_.end()) peer->second->requests.erase(request.id);
  requests_.erase(found);  // ends the program, removes the folder
}

void Server::update_watch(Request& request) {
  bool wanted = request.stream->wants_output();
  if (wanted && request.watch < 0 && watches_ >= 0) {
    request.watch =
        inotify_add_watch(watches_, request.stream->output_path().c_str(),
                          IN_MODIFY | IN_CLOSE_WRITE);
    if (request.watch >= 0) watched_[request.watch] = request.serial;
  } else if (!wanted && request.watch >= 0) {
    inotify_rm_watch(watches_, request.watch);
    watched_.erase(request.watch);
    request.watch = -1;
  }
}

void Server::schedule(Request& request, Clock::time_point now) {
  const Stream& stream = *request.stream;
  Clock::time_point wake = stream.wake_time();
  bool blind = stream.program_running() &&
               (stream.child().event < 0 ||
                (stream.wants_output() && request.watch < 0));
  if (blind) wake = std::min(wake, now + FALLBACK_STEP);
  if (wake == Clock::time_point::max() || wake == request.scheduled) return;
  request.scheduled = wake;
  timers_.emplace(wake, request.serial);
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
  for (std::uint64_t serial : changed) service(serial, Clock::now());
}

void Server::run_timers(Clock::time_point now) {
  while (!timers_.empty() && timers_.top().first <= now) {
    Timer timer = timers_.top();
    timers_.pop();
    Request* request = find(timer.second);
    if (!request || request->scheduled != timer.first) continue;  // stale
    request->scheduled = Clock::time_point::max();
    service(timer.second, now);
  }
}

int Server::wait_timeout(Clock::time_point now) {
  while (!timers_.empty()) {
    const Timer& timer = timers_.top();
    Request* request = find(timer.second);
    if (request && request->scheduled == timer.first) break;
    timers_.pop();
  }
  if (timers_.empty()) return -1;
  Clock::time_point due = timers_.top().first;
  if (due <= now) return 0;
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
  return static_cast<int>(std::min<long long>(ms + 1, 1 << 30));
}

}  // namespace

int serve_fastcgi(int listener, const ServiceOptions& options) {
  prepare_process();
  Server server(listener, options);
  if (!server.open()) {
    log_line(std::string("cannot set up the FastCGI event loop: ") +
             std::strerror(errno));
    return 1;
  }
  server.run();
  return 0;
}

}  // namespace bridge
