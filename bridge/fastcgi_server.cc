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

constexpr std::size_t READ_BLOCK = 64 * 1024;
// Without a pidfd or an inotify watch, a run is looked at this often.
constexpr auto FALLBACK_STEP = std::chrono::milliseconds(5);
// Out of descriptors, the listener rests this long unless one frees first.
constexpr auto ACCEPT_PAUSE = std::chrono::milliseconds(250);
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

std::uint64_t milliseconds(Clock::time_point time) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          time.time_since_epoch())
          .count());
}

struct Request {
  std::uint64_t serial = 0;
  std::uint64_t peer = 0;  // serial of its connection
  unsigned id = 0;         // its FastCGI request id
  Job job;
  BodySpool body;
  std::unique_ptr<Stream> stream;  // once the program runs
  int watch = -1;                  // inotify watch of the output file
  std::uint64_t spooled = 0;       // body, then output, bytes in the total
  Clock::time_point scheduled = Clock::time_point::max();
};

struct Peer {
  Peer(std::uint64_t serial, int fd, fcgi::Connection::Limits limits)
      : serial(serial), fd(fd), protocol(limits) {}
  std::uint64_t serial = 0;
  int fd = -1;
  fcgi::Connection protocol;
  std::string out;  // bytes for the web server, from `sent` on
  std::size_t sent = 0;
  std::uint32_t armed = EPOLLIN;  // the events epoll waits for
  bool closing = false;           // close once `out` has gone
  bool abandoned = false;         // a response failed: read nothing more
  std::map<unsigned, std::uint64_t> requests;  // FastCGI id -> serial
  Clock::time_point scheduled = Clock::time_point::max();
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
      : listener_(listener), options_(options), limits_(options.limits) {
    budget_.max = limits_.max_params_total;
  }
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
  void pause_listener(bool paused, Clock::time_point now);
  void read_peer(Peer& peer);
  void flush(Peer& peer);
  void arm(Peer& peer);
  void resume(Peer& peer);
  void close_peer(std::uint64_t serial);
  void abandon(Peer& peer, const std::string& why);
  void check_peer(Peer& peer, Clock::time_point now);
  void send(Peer& peer, std::string bytes);
  void send_stdout(Peer& peer, unsigned id, std::string_view data);
  void end_request(Peer& peer, unsigned id, std::uint32_t app_status = 0);
  void refuse(Peer& peer, unsigned id, bool nph, const Refusal& refusal);

  void start(Request& request);
  void service(std::uint64_t serial, Clock::time_point now);
  void count_spool(Request& request);
  void finish(Request& request);
  void drop(std::uint64_t serial);
  void update_watch(Request& request);
  void schedule(Request& request, Clock::time_point now);
  void add_timer(Clock::time_point& scheduled, Clock::time_point wake,
                 std::uint64_t serial);
  void read_watches();
  void run_timers(Clock::time_point now);
  int wait_timeout(Clock::time_point now);
  void begin_stop(Clock::time_point now);
  void end_all();
  void last_flush();
  std::size_t running() const;

  Request* find(std::uint64_t serial);
  Request* find(Peer& peer, unsigned id);
  bool watch(int fd, std::uint64_t data, std::uint32_t events);

  int listener_;
  const ServiceOptions& options_;
  Limits limits_;
  fcgi::Connection::Limits::Budget budget_;
  int epoll_ = -1;
  int watches_ = -1;  // inotify instance
  std::uint64_t next_serial_ = 1;
  std::map<std::uint64_t, std::unique_ptr<Peer>> peers_;
  std::map<std::uint64_t, std::unique_ptr<Request>> requests_;
  std::map<int, std::uint64_t> watched_;  // inotify watch -> request
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
  std::vector<std::uint64_t> to_close_;
  bool listener_paused_ = false;
  bool out_of_descriptors_ = false;
  Clock::time_point listener_retry_ = Clock::time_point::max();
  std::uint64_t spooled_total_ = 0;
  bool stopping_ = false;
  Clock::time_point grace_end_ = Clock::time_point::max();
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
  peers_.clear();
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

// On SIGTERM: no more connections, running streams get the grace, then
// every request still open is ended and the loop returns.
void Server::run() {
  std::vector<epoll_event> events(256);
  for (;;) {
    Clock::time_point now = Clock::now();
    if (stop_requested() && !stopping_) begin_stop(now);
    if (stopping_ && (requests_.empty() || now >= grace_end_)) break;
    int count = epoll_wait(epoll_, events.data(),
                           static_cast<int>(events.size()), wait_timeout(now));
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
  end_all();
  last_flush();
}

void Server::begin_stop(Clock::time_point now) {
  stopping_ = true;
  grace_end_ = now + std::chrono::milliseconds(limits_.grace_ms);
  epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
  if (stop_fd() >= 0) epoll_ctl(epoll_, EPOLL_CTL_DEL, stop_fd(), nullptr);
  log_line("stopping: " + std::to_string(requests_.size()) + " requests get " +
           std::to_string(limits_.grace_ms) + " ms");
}

// What ran past the grace is cut: a response that had begun is marked as
// failed; one that had not gets 503.
void Server::end_all() {
  std::vector<std::uint64_t> serials;
  for (const auto& entry : requests_) serials.push_back(entry.first);
  for (std::uint64_t serial : serials) {
    Request* request = find(serial);
    if (!request) continue;
    Peer& peer = *peers_.at(request->peer);
    bool produced = request->stream && request->stream->report().produced;
    if (request->stream) request->stream->stop();
    if (produced) {
      end_request(peer, request->id, 1);
    } else {
      refuse(peer, request->id, request->job.nph,
             {"503 Service Unavailable", "the service is stopping"});
    }
  }
  requests_.clear();
}

void Server::last_flush() {
  Clock::time_point until = Clock::now() + LAST_FLUSH;
  std::vector<epoll_event> events(64);
  for (;;) {
    bool waiting = false;
    for (auto& entry : peers_) {
      flush(*entry.second);
      waiting = waiting || entry.second->queued() > 0;
    }
    Clock::time_point now = Clock::now();
    if (!waiting || now >= until) return;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    epoll_wait(epoll_, events.data(), static_cast<int>(events.size()),
               static_cast<int>(left.count()) + 1);
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

// Takes connections up to the limit. Out of descriptors, the listener is
// paused until one frees (or for ACCEPT_PAUSE), so that a listener that
// stays readable is not spun on.
void Server::accept_peers() {
  for (;;) {
    if (peers_.size() >= limits_.max_connections) {
      pause_listener(true, Clock::time_point::max());
      return;
    }
    int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS ||
          errno == ENOMEM) {
        if (!out_of_descriptors_)
          log_line(std::string("cannot accept a connection: ") +
                   std::strerror(errno) + "; accepting paused");
        out_of_descriptors_ = true;
        pause_listener(true, Clock::now() + ACCEPT_PAUSE);
      }
      return;
    }
    std::string why;
    if (!admit_peer(fd, options_, why)) {
      close(fd);
      continue;
    }
    fcgi::Connection::Limits limits;
    limits.max_params_bytes = limits_.max_params;
    limits.max_requests = static_cast<unsigned>(limits_.max_requests);
    limits.budget = &budget_;
    auto peer = std::make_unique<Peer>(next_serial_++, fd, limits);
    if (!watch(fd, tag(PEER, peer->serial), EPOLLIN)) {
      close(fd);
      continue;
    }
    out_of_descriptors_ = false;
    peers_.emplace(peer->serial, std::move(peer));
  }
}

void Server::pause_listener(bool paused, Clock::time_point retry) {
  listener_retry_ = paused ? retry : Clock::time_point::max();
  if (paused == listener_paused_ || stopping_) return;
  listener_paused_ = paused;
  epoll_event event = {};
  event.events = paused ? 0u : static_cast<std::uint32_t>(EPOLLIN);
  event.data.u64 = tag(LISTENER, 0);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, listener_, &event);
}

void Server::read_peer(Peer& peer) {
  static std::vector<char> block(READ_BLOCK);
  for (int round = 0; round < 16; ++round) {
    if (peer.abandoned || peer.queued() >= limits_.queue_high_water) break;
    ssize_t got = read(peer.fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (got <= 0) {  // the web server closed the connection: end its runs
      to_close_.push_back(peer.serial);
      return;
    }
    PeerListener listener(*this, peer);
    peer.protocol.set_now(milliseconds(Clock::now()));
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
  check_peer(peer, Clock::now());
  arm(peer);
}

void Server::send(Peer& peer, std::string bytes) {
  if (peer.queued() == 0) {
    peer.out = std::move(bytes);
    peer.sent = 0;
  } else {
    peer.out += bytes;
  }
  if (peer.queued() > limits_.queue_cap) {
    log_line("FastCGI connection closed: over " +
             std::to_string(limits_.queue_cap) + " bytes queued");
    peer.out.clear();
    peer.sent = 0;
    to_close_.push_back(peer.serial);
    return;
  }
  flush(peer);
}

void Server::flush(Peer& peer) {
  while (peer.queued() > 0) {
    ssize_t done = write(peer.fd, peer.out.data() + peer.sent, peer.queued());
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (done <= 0) {
      peer.out.clear();
      peer.sent = 0;
      to_close_.push_back(peer.serial);
      return;
    }
    peer.sent += static_cast<std::size_t>(done);
  }
  if (peer.sent > limits_.queue_high_water || peer.queued() == 0) {
    peer.out.erase(0, peer.sent);
    peer.sent = 0;
  }
  arm(peer);
  if (peer.queued() == 0 && peer.closing) to_close_.push_back(peer.serial);
}

// The peer is read while its queue is below the high-water mark, and
// waited on for writing while anything is queued.
void Server::arm(Peer& peer) {
  std::uint32_t wanted = 0;
  if (!peer.abandoned && peer.queued() < limits_.queue_high_water)
    wanted |= EPOLLIN;
  if (peer.queued() > 0) wanted |= EPOLLOUT;
  if (wanted == peer.armed) return;
  epoll_event event = {};
  event.events = wanted;
  event.data.u64 = tag(PEER, peer.serial);
  epoll_ctl(epoll_, EPOLL_CTL_MOD, peer.fd, &event);
  peer.armed = wanted;
}

// After the client has taken queued bytes, streams that waited may go on,
// and records that waited may be read.
void Server::resume(Peer& peer) {
  if (peer.queued() >= limits_.queue_high_water) return;
  std::uint64_t serial = peer.serial;
  std::vector<std::uint64_t> waiting;
  for (const auto& entry : peer.requests) waiting.push_back(entry.second);
  for (std::uint64_t run : waiting) service(run, Clock::now());
  auto found = peers_.find(serial);
  if (found != peers_.end()) read_peer(*found->second);
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
  pause_listener(false, Clock::time_point::max());  // a descriptor is free
}

// A response that cannot be completed: what was queued goes, then the
// connection closes without END_REQUEST, which web servers take for a
// failed response. Its other requests end with it.
void Server::abandon(Peer& peer, const std::string& why) {
  log_line(why + ": FastCGI connection closed without END_REQUEST");
  peer.abandoned = true;
  peer.closing = true;
  std::vector<std::uint64_t> runs;
  for (const auto& entry : peer.requests) runs.push_back(entry.second);
  for (std::uint64_t run : runs) drop(run);
  add_timer(peer.scheduled,
            Clock::now() + std::chrono::milliseconds(limits_.request_time_ms),
            peer.serial);
  arm(peer);
  if (peer.queued() == 0) to_close_.push_back(peer.serial);
}

// A request whose params or body are late closes its connection; an
// abandoned connection whose peer does not take the rest is closed.
void Server::check_peer(Peer& peer, Clock::time_point now) {
  if (peer.abandoned) {
    if (now >= peer.scheduled) to_close_.push_back(peer.serial);
    return;
  }
  std::uint64_t since = peer.protocol.oldest_incomplete();
  if (since == UINT64_MAX) return;
  std::uint64_t due = since + limits_.request_time_ms;
  if (milliseconds(now) >= due) {
    log_line("FastCGI request incomplete after " +
             std::to_string(limits_.request_time_ms) +
             " ms: connection closed");
    to_close_.push_back(peer.serial);
    return;
  }
  add_timer(peer.scheduled,
            now + std::chrono::milliseconds(due - milliseconds(now)),
            peer.serial);
}

void Server::send_stdout(Peer& peer, unsigned id, std::string_view data) {
  std::string records;
  fcgi::append_stream(records, fcgi::STDOUT, id, data);
  send(peer, std::move(records));
}

void Server::end_request(Peer& peer, unsigned id, std::uint32_t app_status) {
  std::string records;
  fcgi::append_stream(records, fcgi::STDOUT, id, std::string_view());
  fcgi::append_end_request(records, id, app_status, fcgi::REQUEST_COMPLETE);
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

std::size_t Server::running() const {
  std::size_t count = 0;
  for (const auto& entry : requests_) {
    const Stream* stream = entry.second->stream.get();
    if (stream && stream->program_running()) ++count;
  }
  return count;
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
  if (stopping_) {
    refuse(peer, id, false,
           {"503 Service Unavailable", "the service is stopping"});
    return;
  }
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
  if (spooled_total_ + data.size() > limits_.max_temp) {
    refuse(peer, id, request->job.nph,
           {"503 Service Unavailable", "the temporary files hold over " +
                                           std::to_string(limits_.max_temp) +
                                           " bytes (--max-temp)"});
    return;
  }
  request->spooled += data.size();
  spooled_total_ += data.size();
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
  if (running() >= limits_.max_children) {
    refuse(peer, request.id, request.job.nph,
           {"503 Service Unavailable",
            "already " + std::to_string(limits_.max_children) +
                " programs running (--max-children)"});
    return;
  }
  if (spooled_total_ >= limits_.max_temp) {
    refuse(peer, request.id, request.job.nph,
           {"503 Service Unavailable", "the output files hold " +
                                           std::to_string(spooled_total_) +
                                           " bytes (--max-temp)"});
    return;
  }
  Child child;
  Refusal refusal;
  if (!start_job(request.job, request.body.length(), child, refusal)) {
    refuse(peer, request.id, request.job.nph, refusal);
    return;
  }
  spooled_total_ -= std::min(spooled_total_, request.spooled);
  request.spooled = 0;
  Clock::time_point now = Clock::now();
  request.stream =
      std::make_unique<Stream>(std::move(child), request.job.output.release(),
                               request.job.spool.files().output,
                               request.job.settings, request.job.nph, now);
  request.stream->set_read_ahead(limits_.read_ahead);
  request.stream->limit_life(now +
                             std::chrono::milliseconds(limits_.stream_time_ms));
  int ended = request.stream->child().event;
  if (ended >= 0) watch(ended, tag(PROGRAM, request.serial), EPOLLIN);
  service(request.serial, now);
}

// Everything due for one run: its program's end, its output, its next
// part, its time limit. The run may be over afterwards.
void Server::service(std::uint64_t serial, Clock::time_point now) {
  Request* request = find(serial);
  if (!request || !request->stream) return;
  Stream& stream = *request->stream;
  Peer& peer = *peers_.at(request->peer);
  stream.update(now);
  count_spool(*request);
  std::string piece;
  while (peer.queued() < limits_.queue_high_water && stream.take(now, piece))
    send_stdout(peer, request->id, piece);
  if (find(serial) != request) return;  // the connection failed
  if (stream.finished()) {
    finish(*request);
    return;
  }
  update_watch(*request);
  schedule(*request, now);
}

// Bodies being received and the output files of runs count against
// --max-temp; the run whose file passes it is cut. (A running program's
// content file is not counted: WINCGI_MAX_BODY bounds it.)
void Server::count_spool(Request& request) {
  Stream& stream = *request.stream;
  if (!stream.program_running()) return;
  std::uint64_t size = file_size(stream.output_path());
  spooled_total_ += size - std::min(size, request.spooled);
  spooled_total_ -= request.spooled - std::min(size, request.spooled);
  request.spooled = size;
  if (spooled_total_ <= limits_.max_temp) return;
  log_line("the output files hold over " + std::to_string(limits_.max_temp) +
           " bytes (--max-temp): " + request.job.program + " stopped");
  stream.cut();
}

void Server::finish(Request& request) {
  Peer& peer = *peers_.at(request.peer);
  request.stream->end_program();
  Refusal refusal;
  bool refused = judge_run(request.job, request.stream->report(), refusal);
  if (request.stream->report().failed_after_output()) {
    abandon(peer, request.job.program + ": response cut short");
  } else if (refused) {
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
  spooled_total_ -= std::min(spooled_total_, request.spooled);
  auto peer = peers_.find(request.peer);
  if (peer != peers_.end()) peer->second->requests.erase(request.id);
  requests_.erase(found);  // ends the program, removes the folder
  pause_listener(false, Clock::time_point::max());  // descriptors are free
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

// A stream held back by its connection's queue waits for the connection
// (resume), not for a timer: its part is due already, and a timer for it
// would fire at once, again and again.
void Server::schedule(Request& request, Clock::time_point now) {
  const Stream& stream = *request.stream;
  Peer& peer = *peers_.at(request.peer);
  bool held = peer.queued() >= limits_.queue_high_water;
  Clock::time_point wake = held ? stream.deadline() : stream.wake_time();
  bool blind = stream.program_running() &&
               (stream.child().event < 0 ||
                (stream.wants_output() && request.watch < 0));
  if (blind) wake = std::min(wake, now + FALLBACK_STEP);
  add_timer(request.scheduled, wake, request.serial);
}

void Server::add_timer(Clock::time_point& scheduled, Clock::time_point wake,
                       std::uint64_t serial) {
  if (wake == Clock::time_point::max() || wake == scheduled) return;
  scheduled = wake;
  timers_.emplace(wake, serial);
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

// A timer is for a request or a connection (their serials never meet);
// one whose owner has gone or was scheduled anew is stale.
void Server::run_timers(Clock::time_point now) {
  if (listener_paused_ && now >= listener_retry_)
    pause_listener(false, Clock::time_point::max());
  while (!timers_.empty() && timers_.top().first <= now) {
    Timer timer = timers_.top();
    timers_.pop();
    if (Request* request = find(timer.second)) {
      if (request->scheduled != timer.first) continue;
      request->scheduled = Clock::time_point::max();
      service(timer.second, now);
      continue;
    }
    auto peer = peers_.find(timer.second);
    if (peer == peers_.end() || peer->second->scheduled != timer.first)
      continue;
    peer->second->scheduled = Clock::time_point::max();
    check_peer(*peer->second, now);
  }
}

int Server::wait_timeout(Clock::time_point now) {
  while (!timers_.empty()) {
    const Timer& timer = timers_.top();
    if (Request* request = find(timer.second)) {
      if (request->scheduled == timer.first) break;
    } else {
      auto peer = peers_.find(timer.second);
      if (peer != peers_.end() && peer->second->scheduled == timer.first) break;
    }
    timers_.pop();
  }
  Clock::time_point due = std::min(grace_end_, listener_retry_);
  if (!timers_.empty()) due = std::min(due, timers_.top().first);
  if (due == Clock::time_point::max()) return -1;
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
