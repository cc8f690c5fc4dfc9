// fastcgi_run.h: what one FastCGI request runs, as the service's core sees
// it. A run is opened from the request's params, takes the body, starts,
// and is then driven like a Stream: `update` at events and at `wake_time`,
// `take` for the pieces to send. The core knows nothing of what is behind
// it (a program and its files, or something in the process).
#ifndef WHIRLO_BRIDGE_FASTCGI_RUN_H
#define WHIRLO_BRIDGE_FASTCGI_RUN_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fastcgi.h"
#include "refusal.h"

namespace bridge {

using Clock = std::chrono::steady_clock;

class Run {
 public:
  enum class End { COMPLETE, REFUSED, CUT_SHORT };

  virtual ~Run() = default;  // ends whatever still runs, frees its files

  /// Body bytes before the start; empty = the body has ended. False with
  /// `refusal` when the body cannot be taken.
  virtual bool body(std::string_view data, Refusal& refusal) = 0;
  /// With the whole body: starts. False with `refusal` when it cannot.
  virtual bool start(Clock::time_point now, Refusal& refusal) = 0;

  // As Stream's: what is due at `now`, the next piece, when to look again
  // without an event, and the time limit alone (for a run held back by
  // its connection).
  virtual void update(Clock::time_point now) = 0;
  virtual bool take(Clock::time_point now, std::string& piece) = 0;
  virtual Clock::time_point wake_time() const = 0;
  virtual Clock::time_point deadline() const = 0;
  /// Nothing more will be handed out.
  virtual bool finished() const = 0;

  /// Started and still working: counts against --max-children.
  virtual bool busy() const = 0;
  /// Busy and waiting for more output: an output-grew event is wanted.
  virtual bool wants_output() const = 0;
  /// Bytes it holds in temporary files (counted against --max-temp).
  virtual std::uint64_t temp_bytes() const = 0;
  /// Some response bytes were handed out.
  virtual bool produced() const = 0;

  /// Ended by a bound of the service: cut short, not complete.
  virtual void cut() = 0;
  /// The client is gone or the service stops.
  virtual void stop() = 0;
  /// The run is over: ends what still runs, logs how it went, and says
  /// how the response ends (REFUSED with `refusal` filled when nothing of
  /// the run's was sent).
  virtual End end(Refusal& refusal) = 0;

  /// What the event loop can wait on, where the run has it: a descriptor
  /// that is readable once its program has ended (-1: none), and the file
  /// whose growth is its output ("": none).
  virtual int end_event() const { return -1; }
  virtual std::string output_file() const { return std::string(); }

  /// Errors are answered as an NPH script would.
  virtual bool nph() const = 0;
  /// For the log: what ran.
  virtual std::string name() const = 0;
};

/// Opens runs.
class RunMaker {
 public:
  virtual ~RunMaker() = default;
  /// A run for a request with `params`, ready for its body; null with
  /// `refusal` (and `nph`, how to answer) when the request is refused.
  virtual std::unique_ptr<Run> open(const fcgi::Params& params, bool& nph,
                                    Refusal& refusal) = 0;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_FASTCGI_RUN_H
