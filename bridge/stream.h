// stream.h: one program's run on its way to the client. Reads the output
// file, cuts and paces the pieces, and ends the program at the time limit
// or when its output passes the cap. It never waits and never writes to
// the client: the caller waits for what `wake_time` and `wants_output` ask
// for, calls `update`, and sends what `take` hands out.
#ifndef WHIRLO_BRIDGE_STREAM_H
#define WHIRLO_BRIDGE_STREAM_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "os.h"
#include "output_relay.h"
#include "settings.h"

namespace bridge {

using Clock = std::chrono::steady_clock;

struct RelayReport {
  bool exited = false;         // the program ended by itself
  ProgramExit exit;            // how, when it did
  bool timed_out = false;      // killed at the time limit
  bool over_cap = false;       // killed: its output passed WINCGI_MAX_OUTPUT
  bool produced = false;       // some response bytes were handed out
  bool bad_header = false;     // the output's header could not be relayed
  bool output_failed = false;  // the program could not write its output
  bool stopped = false;        // the bridge was told to stop or the client left
  bool unreadable = false;     // the output file could not be opened
  bool cut = false;            // ended by the bridge: the service's bounds

  /// True when output went out but the run did not end well, so the
  /// client must not take the response for a complete one.
  bool failed_after_output() const {
    return produced && (timed_out || over_cap || bad_header || cut ||
                        (exited && exit.signal != 0));
  }
};

/// Where a stream's bytes come from: a program's output file as it grows,
/// or a response made in the process as it is asked for.
class OutputSource {
 public:
  virtual ~OutputSource() = default;
  /// Up to `size` bytes into `block`; 0 when nothing more is there now.
  virtual std::size_t read(char* block, std::size_t size) = 0;
};

class Stream {
 public:
  Stream(Child child, const std::string& output_path, const Settings& settings,
         bool nph, Clock::time_point now);
  /// With the output file already open for reading (`tail`, owned; null
  /// when it could not be opened: the run ends at once as unreadable).
  Stream(Child child, std::FILE* tail, const std::string& output_path,
         const Settings& settings, bool nph, Clock::time_point now);
  /// With the bytes from `source` (null: unreadable, as above). Without a
  /// child, what the source hands out is all there will be.
  Stream(Child child, std::unique_ptr<OutputSource> source,
         const std::string& output_path, const Settings& settings, bool nph,
         Clock::time_point now);
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream() = default;  // the program, if it still runs, ends with child_

  /// Does what is due at `now`: notes the program's end, enforces the time
  /// limit and the cap, reads new output.
  void update(Clock::time_point now);

  /// The next bytes to send at `now`; false when nothing may go yet. What
  /// it hands out counts as sent.
  bool take(Clock::time_point now, std::string& out);

  /// The client is gone, or the bridge must stop: the program is ended.
  void stop();

  /// Ends the program if it still runs (when the run is over).
  void end_program() { kill_child(child_); }

  /// The run is ended by a bound of the service (cut short, not complete).
  void cut();

  /// Output read ahead at most when no part can be cut from it yet (a
  /// longer part goes out unpaced, in pieces); 1 MiB unless set.
  void set_read_ahead(std::size_t bytes) { read_ahead_ = bytes; }

  /// Lowers the time limit to `deadline` (it is never raised).
  void limit_life(Clock::time_point deadline);

  /// The time limit, while it can still strike; max() otherwise.
  Clock::time_point deadline() const;

  /// When `update` has something to do without an event (the next part is
  /// due, or the time limit strikes); Clock::time_point::max() if never.
  Clock::time_point wake_time() const;

  /// True while the program runs and more of its output file is wanted:
  /// the caller should wake when the file grows.
  bool wants_output() const;

  bool program_running() const { return child_.id != 0; }
  const Child& child() const { return child_; }
  const std::string& output_path() const { return output_path_; }

  /// Nothing more will be handed out.
  bool finished() const;

  const RelayReport& report() const { return report_; }

 private:
  void over_cap();
  void fill();
  bool read_more();

  Child child_;
  std::unique_ptr<OutputSource> tail_;
  OutputRelay relay_;
  bool streaming_;
  Clock::duration interval_;
  Clock::time_point deadline_;
  Clock::time_point next_part_;
  std::uint64_t max_output_;
  std::string output_path_;
  std::size_t read_ahead_ = 1 << 20;
  std::uint64_t read_ = 0;  // bytes of the output file read so far
  bool file_ended_ = false;
  std::string held_;
  Piece held_kind_ = Piece::NONE;
  RelayReport report_;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_STREAM_H
