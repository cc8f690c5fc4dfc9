#include "fastcgi_core.h"

#include <algorithm>

#include "error_response.h"
#include "run_notes.h"

namespace bridge {
namespace {

// A run that cannot be woken by events is looked at this often.
constexpr auto FALLBACK_STEP = std::chrono::milliseconds(5);
// Out of descriptors, accepting rests this long unless one frees first.
constexpr auto ACCEPT_PAUSE = std::chrono::milliseconds(250);

std::uint64_t milliseconds(Clock::time_point time) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(
          time.time_since_epoch())
          .count());
}

const Refusal STOPPING = {"503 Service Unavailable", "the service is stopping"};

}  // namespace

struct FastcgiCore::Request {
  std::uint64_t serial = 0;
  std::uint64_t peer = 0;  // serial of its connection
  unsigned id = 0;         // its FastCGI request id
  std::unique_ptr<Run> run;
  std::string label;  // names it in the log
  bool started = false;
  bool end_reported = false;  // the port tells when the run's program ends
  bool watched = false;       // the port tells when its output grows
  std::uint64_t spooled = 0;  // body, then output, bytes in the total
  Clock::time_point scheduled = Clock::time_point::max();
};

struct FastcgiCore::Peer {
  Peer(std::uint64_t serial, fcgi::Connection::Limits limits)
      : serial(serial), protocol(limits) {}
  std::uint64_t serial = 0;
  fcgi::Connection protocol;
  std::string out;  // bytes for the web server, from `sent` on
  std::size_t sent = 0;
  bool armed_read = true;
  bool armed_write = false;
  bool closing = false;    // close once `out` has gone
  bool abandoned = false;  // a response failed: read nothing more
  std::map<unsigned, std::uint64_t> requests;  // FastCGI id -> serial
  Clock::time_point scheduled = Clock::time_point::max();
  std::size_t queued() const { return out.size() - sent; }
};

// Hands one connection's requests to the core.
class FastcgiCore::PeerListener : public fcgi::Listener {
 public:
  PeerListener(FastcgiCore& core, Peer& peer, Clock::time_point now)
      : core_(core), peer_(peer), now_(now) {}
  void on_request(unsigned id, fcgi::Params params) override {
    core_.begin_request(peer_, id, std::move(params), now_);
  }
  void on_stdin(unsigned id, std::string_view data) override {
    core_.body_bytes(peer_, id, data, now_);
  }
  void on_abort(unsigned id) override { core_.abort_request(peer_, id); }

 private:
  FastcgiCore& core_;
  Peer& peer_;
  Clock::time_point now_;
};

FastcgiCore::FastcgiCore(const Limits& limits, RunMaker& maker, Port& port)
    : limits_(limits), maker_(maker), port_(port) {
  budget_.max = limits_.max_params_total;
}

FastcgiCore::~FastcgiCore() {
  requests_.clear();  // ends every run
  peers_.clear();
}

bool FastcgiCore::may_accept() {
  if (peers_.size() < limits_.max_connections) return true;
  pause_accepting(true, Clock::time_point::max());
  return false;
}

void FastcgiCore::accept_failed(const std::string& why, Clock::time_point now) {
  if (!out_of_descriptors_)
    log_line("cannot accept a connection: " + why + "; accepting paused");
  out_of_descriptors_ = true;
  pause_accepting(true, now + ACCEPT_PAUSE);
}

std::uint64_t FastcgiCore::connect() {
  fcgi::Connection::Limits limits;
  limits.max_params_bytes = limits_.max_params;
  limits.max_requests = static_cast<unsigned>(limits_.max_requests);
  limits.budget = &budget_;
  auto peer = std::make_unique<Peer>(next_serial_++, limits);
  std::uint64_t serial = peer->serial;
  out_of_descriptors_ = false;
  peers_.emplace(serial, std::move(peer));
  return serial;
}

void FastcgiCore::pause_accepting(bool paused, Clock::time_point retry) {
  accept_retry_ = paused ? retry : Clock::time_point::max();
  if (paused == accept_paused_ || stopping_) return;
  accept_paused_ = paused;
  port_.accept(!paused);
}

bool FastcgiCore::reading(std::uint64_t connection) const {
  auto found = peers_.find(connection);
  if (found == peers_.end()) return false;
  const Peer& peer = *found->second;
  return !peer.abandoned && peer.queued() < limits_.queue_high_water;
}

void FastcgiCore::received(std::uint64_t connection, std::string_view bytes,
                           Clock::time_point now) {
  Peer* peer = find_peer(connection);
  if (!peer || !reading(connection)) return;
  PeerListener listener(*this, *peer, now);
  peer->protocol.set_now(milliseconds(now));
  bool ok = peer->protocol.feed(bytes.data(), bytes.size(), listener);
  if (!peer->protocol.replies().empty()) {
    send(*peer, std::move(peer->protocol.replies()));
    peer->protocol.replies().clear();
  }
  if (!ok) {
    log_line("FastCGI protocol error: connection closed");
    to_close_.push_back(peer->serial);
  } else {
    if (peer->protocol.close_after_replies()) peer->closing = true;
    if (peer->closing && peer->queued() == 0) to_close_.push_back(peer->serial);
    check_peer(*peer, now);
    arm(*peer);
  }
  close_marked();
}

void FastcgiCore::hung_up(std::uint64_t connection) {
  to_close_.push_back(connection);
  close_marked();
}

// After the client has taken queued bytes, the runs that it held back may
// go on.
void FastcgiCore::writable(std::uint64_t connection, Clock::time_point now) {
  Peer* peer = find_peer(connection);
  if (!peer) return;
  flush(*peer);
  if (peer->queued() < limits_.queue_high_water) {
    std::vector<std::uint64_t> waiting;
    for (const auto& entry : peer->requests) waiting.push_back(entry.second);
    for (std::uint64_t run : waiting) service(run, now);
  }
  close_marked();
}

void FastcgiCore::run_event(std::uint64_t request, Clock::time_point now) {
  service(request, now);
  close_marked();
}

void FastcgiCore::send(Peer& peer, std::string bytes) {
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

void FastcgiCore::flush(Peer& peer) {
  while (peer.queued() > 0) {
    long long done =
        port_.write(peer.serial, std::string_view(peer.out).substr(peer.sent));
    if (done == 0) break;
    if (done < 0) {
      peer.out.clear();
      peer.sent = 0;
      to_close_.push_back(peer.serial);
      return;
    }
    peer.sent += static_cast<std::size_t>(
        std::min<unsigned long long>(done, peer.queued()));
  }
  if (peer.sent > limits_.queue_high_water || peer.queued() == 0) {
    peer.out.erase(0, peer.sent);
    peer.sent = 0;
  }
  arm(peer);
  if (peer.queued() == 0 && peer.closing) to_close_.push_back(peer.serial);
}

bool FastcgiCore::flush_all() {
  bool waiting = false;
  for (auto& entry : peers_) {
    flush(*entry.second);
    waiting = waiting || entry.second->queued() > 0;
  }
  close_marked();
  return waiting;
}

// The peer is read while its queue is below the high-water mark, and
// waited on for writing while anything is queued.
void FastcgiCore::arm(Peer& peer) {
  bool read = !peer.abandoned && peer.queued() < limits_.queue_high_water;
  bool write = peer.queued() > 0;
  if (read == peer.armed_read && write == peer.armed_write) return;
  peer.armed_read = read;
  peer.armed_write = write;
  port_.arm(peer.serial, read, write);
}

void FastcgiCore::close_marked() {
  while (!to_close_.empty()) {
    std::vector<std::uint64_t> closing;
    closing.swap(to_close_);
    for (std::uint64_t serial : closing) close_peer(serial);
  }
}

void FastcgiCore::close_peer(std::uint64_t serial) {
  auto found = peers_.find(serial);
  if (found == peers_.end()) return;
  std::vector<std::uint64_t> runs;
  for (const auto& entry : found->second->requests)
    runs.push_back(entry.second);
  for (std::uint64_t run : runs) drop(run);
  peers_.erase(found);
  port_.close(serial);
  pause_accepting(false, Clock::time_point::max());  // a descriptor is free
}

// A response that cannot be completed: what was queued goes, then the
// connection closes without END_REQUEST, which web servers take for a
// failed response. Its other requests end with it.
void FastcgiCore::abandon(Peer& peer, const std::string& why,
                          Clock::time_point now) {
  log_line(why + ": FastCGI connection closed without END_REQUEST");
  peer.abandoned = true;
  peer.closing = true;
  std::vector<std::uint64_t> runs;
  for (const auto& entry : peer.requests) runs.push_back(entry.second);
  for (std::uint64_t run : runs) drop(run);
  add_timer(peer.scheduled,
            now + std::chrono::milliseconds(limits_.request_time_ms),
            peer.serial);
  arm(peer);
  if (peer.queued() == 0) to_close_.push_back(peer.serial);
}

// A request whose params or body are late closes its connection; an
// abandoned connection whose peer does not take the rest is closed.
void FastcgiCore::check_peer(Peer& peer, Clock::time_point now) {
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

void FastcgiCore::send_stdout(Peer& peer, unsigned id, std::string_view data) {
  std::string records;
  fcgi::append_stream(records, fcgi::STDOUT, id, data);
  send(peer, std::move(records));
}

void FastcgiCore::end_request(Peer& peer, unsigned id,
                              std::uint32_t app_status) {
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

void FastcgiCore::refuse(Peer& peer, unsigned id, bool nph,
                         const Refusal& refusal) {
  Request* request = find(peer, id);
  RequestScope scope(request ? request->label : std::string());
  log_line(refusal.status + ": " + refusal.reason);
  send_stdout(peer, id, error_response(nph, refusal.status, refusal.reason));
  end_request(peer, id);
}

FastcgiCore::Request* FastcgiCore::find(std::uint64_t serial) {
  auto found = requests_.find(serial);
  return found == requests_.end() ? nullptr : found->second.get();
}

FastcgiCore::Request* FastcgiCore::find(Peer& peer, unsigned id) {
  auto found = peer.requests.find(id);
  return found == peer.requests.end() ? nullptr : find(found->second);
}

FastcgiCore::Peer* FastcgiCore::find_peer(std::uint64_t serial) {
  auto found = peers_.find(serial);
  return found == peers_.end() ? nullptr : found->second.get();
}

std::size_t FastcgiCore::queued(std::uint64_t connection) const {
  auto found = peers_.find(connection);
  return found == peers_.end() ? 0 : found->second->queued();
}

std::size_t FastcgiCore::busy() const {
  std::size_t count = 0;
  for (const auto& entry : requests_) {
    const Run* run = entry.second->run.get();
    if (run && run->busy()) ++count;
  }
  return count;
}

void FastcgiCore::begin_request(Peer& peer, unsigned id, fcgi::Params params,
                                Clock::time_point) {
  auto request = std::make_unique<Request>();
  request->serial = next_serial_++;
  request->peer = peer.serial;
  request->id = id;
  Request& added = *request;
  std::string script, query;
  for (const auto& pair : params) {
    if (pair.first == "SCRIPT_NAME") script = pair.second;
    if (pair.first == "QUERY_STRING") query = pair.second;
  }
  added.label = request_label(script, query);
  peer.requests[id] = added.serial;
  requests_.emplace(added.serial, std::move(request));
  if (stopping_) {
    refuse(peer, id, false, STOPPING);
    return;
  }
  bool nph = false;
  Refusal refusal;
  added.run = maker_.open(params, nph, refusal);
  if (!added.run) refuse(peer, id, nph, refusal);
}

void FastcgiCore::body_bytes(Peer& peer, unsigned id, std::string_view data,
                             Clock::time_point now) {
  Request* request = find(peer, id);
  if (!request || request->started) return;
  Run& run = *request->run;
  if (spooled_total_ + data.size() > limits_.max_temp) {
    refuse(peer, id, run.nph(),
           {"503 Service Unavailable", "the temporary files hold over " +
                                           std::to_string(limits_.max_temp) +
                                           " bytes (--max-temp)"});
    return;
  }
  request->spooled += data.size();
  spooled_total_ += data.size();
  Refusal refusal;
  if (!run.body(data, refusal)) {
    refuse(peer, id, run.nph(), refusal);
  } else if (data.empty()) {
    start(*request, now);
  }
}

void FastcgiCore::abort_request(Peer& peer, unsigned id) {
  if (find(peer, id)) end_request(peer, id);
}

void FastcgiCore::start(Request& request, Clock::time_point now) {
  Peer& peer = *peers_.at(request.peer);
  Run& run = *request.run;
  if (busy() >= limits_.max_children) {
    refuse(peer, request.id, run.nph(),
           {"503 Service Unavailable",
            "already " + std::to_string(limits_.max_children) +
                " programs running (--max-children)"});
    return;
  }
  if (spooled_total_ >= limits_.max_temp) {
    refuse(peer, request.id, run.nph(),
           {"503 Service Unavailable", "the output files hold " +
                                           std::to_string(spooled_total_) +
                                           " bytes (--max-temp)"});
    return;
  }
  Refusal refusal;
  if (!run.start(now, refusal)) {
    refuse(peer, request.id, run.nph(), refusal);
    return;
  }
  request.started = true;
  spooled_total_ -= std::min(spooled_total_, request.spooled);
  request.spooled = 0;
  request.end_reported = port_.started(request.serial, run);
  service(request.serial, now);
}

// Everything due for one run: its program's end, its output, its next
// part, its time limit. The run may be over afterwards.
void FastcgiCore::service(std::uint64_t serial, Clock::time_point now) {
  Request* request = find(serial);
  if (!request || !request->started) return;
  Run& run = *request->run;
  Peer& peer = *peers_.at(request->peer);
  run.update(now);
  count_spool(*request);
  std::string piece;
  while (peer.queued() < limits_.queue_high_water && run.take(now, piece)) {
    send_stdout(peer, request->id, piece);
    if (find(serial) != request) return;  // the connection failed
  }
  if (run.finished()) {
    finish(*request, now);
    return;
  }
  update_watch(*request);
  schedule(*request, now);
}

// Bodies being received and the output files of runs count against
// --max-temp; the run whose file passes it is cut. (A running program's
// content file is not counted: WINCGI_MAX_BODY bounds it.)
void FastcgiCore::count_spool(Request& request) {
  Run& run = *request.run;
  if (!run.busy()) return;
  std::uint64_t size = run.temp_bytes();
  spooled_total_ += size - std::min(size, request.spooled);
  spooled_total_ -= request.spooled - std::min(size, request.spooled);
  request.spooled = size;
  if (spooled_total_ <= limits_.max_temp) return;
  RequestScope scope(request.label);
  log_line("the output files hold over " + std::to_string(limits_.max_temp) +
           " bytes (--max-temp): " + run.name() + " stopped");
  run.cut();
}

void FastcgiCore::finish(Request& request, Clock::time_point now) {
  RequestScope scope(request.label);
  Peer& peer = *peers_.at(request.peer);
  Refusal refusal;
  switch (request.run->end(refusal)) {
    case Run::End::CUT_SHORT:
      abandon(peer, request.run->name() + ": response cut short", now);
      break;
    case Run::End::REFUSED:
      refuse(peer, request.id, request.run->nph(), refusal);
      break;
    case Run::End::COMPLETE: end_request(peer, request.id); break;
  }
}

void FastcgiCore::drop(std::uint64_t serial) {
  auto found = requests_.find(serial);
  if (found == requests_.end()) return;
  Request& request = *found->second;
  if (request.watched) port_.unwatch_output(serial);
  spooled_total_ -= std::min(spooled_total_, request.spooled);
  auto peer = peers_.find(request.peer);
  if (peer != peers_.end()) peer->second->requests.erase(request.id);
  requests_.erase(found);  // ends the run, frees its files
  pause_accepting(false, Clock::time_point::max());  // descriptors are free
}

void FastcgiCore::update_watch(Request& request) {
  bool wanted = request.run->wants_output();
  if (wanted && !request.watched) {
    request.watched = port_.watch_output(request.serial, *request.run);
  } else if (!wanted && request.watched) {
    port_.unwatch_output(request.serial);
    request.watched = false;
  }
}

// A run held back by its connection's queue waits for the connection
// (writable), not for a timer: its part is due already, and a timer for it
// would fire at once, again and again.
void FastcgiCore::schedule(Request& request, Clock::time_point now) {
  const Run& run = *request.run;
  Peer& peer = *peers_.at(request.peer);
  bool held = peer.queued() >= limits_.queue_high_water;
  Clock::time_point wake = held ? run.deadline() : run.wake_time();
  bool blind = run.busy() && (!request.end_reported ||
                              (run.wants_output() && !request.watched));
  if (blind) wake = std::min(wake, now + FALLBACK_STEP);
  add_timer(request.scheduled, wake, request.serial);
}

void FastcgiCore::add_timer(Clock::time_point& scheduled,
                            Clock::time_point wake, std::uint64_t serial) {
  if (wake == Clock::time_point::max() || wake == scheduled) return;
  scheduled = wake;
  timers_.emplace(wake, serial);
}

// A timer is for a request or a connection (their serials never meet);
// one whose owner has gone or was scheduled anew is stale.
void FastcgiCore::tick(Clock::time_point now) {
  if (accept_paused_ && now >= accept_retry_)
    pause_accepting(false, Clock::time_point::max());
  while (!timers_.empty() && timers_.top().first <= now) {
    Timer timer = timers_.top();
    timers_.pop();
    if (Request* request = find(timer.second)) {
      if (request->scheduled != timer.first) continue;
      request->scheduled = Clock::time_point::max();
      service(timer.second, now);
      continue;
    }
    Peer* peer = find_peer(timer.second);
    if (!peer || peer->scheduled != timer.first) continue;
    peer->scheduled = Clock::time_point::max();
    check_peer(*peer, now);
  }
  close_marked();
}

Clock::time_point FastcgiCore::wake_time() {
  while (!timers_.empty()) {
    const Timer& timer = timers_.top();
    if (Request* request = find(timer.second)) {
      if (request->scheduled == timer.first) break;
    } else if (Peer* peer = find_peer(timer.second)) {
      if (peer->scheduled == timer.first) break;
    }
    timers_.pop();
  }
  Clock::time_point due = std::min(grace_end_, accept_retry_);
  if (!timers_.empty()) due = std::min(due, timers_.top().first);
  return due;
}

void FastcgiCore::stop(Clock::time_point now) {
  if (stopping_) return;
  stopping_ = true;
  grace_end_ = now + std::chrono::milliseconds(limits_.grace_ms);
  log_line("stopping: " + std::to_string(requests_.size()) + " requests get " +
           std::to_string(limits_.grace_ms) + " ms");
}

bool FastcgiCore::done(Clock::time_point now) const {
  return stopping_ && (requests_.empty() || now >= grace_end_);
}

void FastcgiCore::end_all() {
  std::vector<std::uint64_t> serials;
  for (const auto& entry : requests_) serials.push_back(entry.first);
  for (std::uint64_t serial : serials) {
    Request* request = find(serial);
    if (!request) continue;
    Peer& peer = *peers_.at(request->peer);
    Run* run = request->run.get();
    bool produced = request->started && run->produced();
    if (request->started) run->stop();
    if (produced) {
      end_request(peer, request->id, 1);
    } else {
      refuse(peer, request->id, run && run->nph(), STOPPING);
    }
  }
  requests_.clear();
  close_marked();
}

}  // namespace bridge
