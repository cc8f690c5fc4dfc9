// fastcgi_core.h: the FastCGI service without I/O. Connections, their
// requests and runs, the write queues, the timers and the service's bounds;
// driven by events (a connection came, bytes were read, the peer hung up,
// a run's program ended or its output grew, the clock moved, stop). What
// it does to the world goes through a Port: writes, closes, which events
// to wait for. The event loop (fastcgi_server.cc) is the only Port in the
// program; tests use fakes.
#ifndef WHIRLO_BRIDGE_FASTCGI_CORE_H
#define WHIRLO_BRIDGE_FASTCGI_CORE_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fastcgi.h"
#include "fastcgi_run.h"
#include "service_limits.h"

namespace bridge {

/// What the core asks of the event loop. Connections and requests are
/// named by serials that are never reused and never meet.
class Port {
 public:
  virtual ~Port() = default;
  /// Writes what the connection takes now of `bytes`: the count (0 when it
  /// would block), or -1 when the connection has failed.
  virtual long long write(std::uint64_t connection, std::string_view bytes) = 0;
  virtual void close(std::uint64_t connection) = 0;
  /// Wait for the connection to be readable / writable, or not.
  virtual void arm(std::uint64_t connection, bool read, bool write) = 0;
  /// New connections are (not) to be accepted.
  virtual void accept(bool on) = 0;
  /// The run of `request` has started; true when its end will be reported
  /// (run_event), false when the core must look at it now and then.
  virtual bool started(std::uint64_t request, Run& run) = 0;
  /// Report when the run's output grows (true if it will), or stop.
  virtual bool watch_output(std::uint64_t request, Run& run) = 0;
  virtual void unwatch_output(std::uint64_t request) = 0;
};

class FastcgiCore {
 public:
  FastcgiCore(const Limits& limits, RunMaker& maker, Port& port);
  ~FastcgiCore();  // ends every run; calls the port no more
  FastcgiCore(const FastcgiCore&) = delete;
  FastcgiCore& operator=(const FastcgiCore&) = delete;

  /// True when a connection may be accepted now; at the limit, accepting
  /// is paused until one closes.
  bool may_accept();
  /// Accepting failed for want of descriptors or memory (`why`): paused a
  /// while or until a connection or run frees some.
  void accept_failed(const std::string& why, Clock::time_point now);
  /// A connection was accepted; its serial. It is armed for reading.
  std::uint64_t connect();
  /// True while the connection's bytes are wanted.
  bool reading(std::uint64_t connection) const;
  void received(std::uint64_t connection, std::string_view bytes,
                Clock::time_point now);
  /// The peer closed or the connection failed: its runs end.
  void hung_up(std::uint64_t connection);
  /// The connection can take bytes again.
  void writable(std::uint64_t connection, Clock::time_point now);
  /// The run of `request` may have something new (its program ended, its
  /// output grew).
  void run_event(std::uint64_t request, Clock::time_point now);
  /// The clock has reached `now`: timers that are due fire.
  void tick(Clock::time_point now);
  /// When tick has something to do; max() when never.
  Clock::time_point wake_time();

  /// SIGTERM: no new requests; runs get the grace.
  void stop(Clock::time_point now);
  bool stopping() const { return stopping_; }
  /// Stopping, and every request is over or the grace has ended.
  bool done(Clock::time_point now) const;
  /// What ran past the grace is cut: a response that had begun ends as
  /// failed; one that had not gets 503.
  void end_all();
  /// Writes what is queued; true while bytes remain.
  bool flush_all();

  std::size_t connections() const { return peers_.size(); }
  std::size_t requests() const { return requests_.size(); }
  std::uint64_t temp_bytes() const { return spooled_total_; }
  /// Bytes waiting for the connection (zero for one that is gone).
  std::size_t queued(std::uint64_t connection) const;

 private:
  struct Request;
  struct Peer;
  class PeerListener;
  using Timer = std::pair<Clock::time_point, std::uint64_t>;

  void begin_request(Peer& peer, unsigned id, fcgi::Params params,
                     Clock::time_point now);
  void body_bytes(Peer& peer, unsigned id, std::string_view data,
                  Clock::time_point now);
  void abort_request(Peer& peer, unsigned id);

  void pause_accepting(bool paused, Clock::time_point retry);
  void flush(Peer& peer);
  void arm(Peer& peer);
  void close_marked();
  void close_peer(std::uint64_t serial);
  void abandon(Peer& peer, const std::string& why, Clock::time_point now);
  void check_peer(Peer& peer, Clock::time_point now);
  void send(Peer& peer, std::string bytes);
  void queued_more(Peer& peer);
  void send_stdout(Peer& peer, unsigned id, std::string_view data);
  void end_request(Peer& peer, unsigned id, std::uint32_t app_status = 0);
  void refuse(Peer& peer, unsigned id, bool nph, const Refusal& refusal);

  void start(Request& request, Clock::time_point now);
  void service(std::uint64_t serial, Clock::time_point now);
  void serve(Request& request, Peer& peer, Clock::time_point now);
  void count_spool(Request& request);
  void finish(Request& request, Clock::time_point now);
  void drop(std::uint64_t serial);
  void update_watch(Request& request);
  void schedule(Request& request, Clock::time_point now);
  void add_timer(Clock::time_point& scheduled, Clock::time_point wake,
                 std::uint64_t serial);
  std::size_t busy();

  Request* find(std::uint64_t serial);
  Request* find(Peer& peer, unsigned id);
  Peer* find_peer(std::uint64_t serial);

  Limits limits_;
  RunMaker& maker_;
  Port& port_;
  fcgi::Connection::Limits::Budget budget_;
  std::uint64_t next_serial_ = 1;
  std::map<std::uint64_t, std::unique_ptr<Peer>> peers_;
  std::map<std::uint64_t, std::unique_ptr<Request>> requests_;
  std::set<std::uint64_t> working_;  // requests whose runs may be busy
  std::priority_queue<Timer, std::vector<Timer>, std::greater<Timer>> timers_;
  std::vector<std::uint64_t> to_close_;
  bool accept_paused_ = false;
  bool out_of_descriptors_ = false;
  Clock::time_point accept_retry_ = Clock::time_point::max();
  std::uint64_t spooled_total_ = 0;
  bool stopping_ = false;
  bool holding_ = false;  // send() leaves the writing to service()
  Clock::time_point grace_end_ = Clock::time_point::max();
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_FASTCGI_CORE_H
