#include "relay.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "output_relay.h"

namespace bridge {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kReadAhead = 1 << 20;  // bytes held in memory at most
constexpr milliseconds kPollStep(5);

class OutputTail {
 public:
  explicit OutputTail(const std::string& path) : block_(64 * 1024) {
    file_ = std::fopen(path.c_str(), "rb");
  }
  ~OutputTail() {
    if (file_) std::fclose(file_);
  }
  // Feeds what the file holds beyond what was read; true when it gave any.
  bool read_into(OutputRelay& relay) {
    if (!file_) return false;
    std::size_t got = std::fread(block_.data(), 1, block_.size(), file_);
    if (got == 0) {
      // The writer may still add to the file: drop the end-of-file state
      // and the stream's buffer, staying where we are.
      std::clearerr(file_);
      std::fseek(file_, 0, SEEK_CUR);
      return false;
    }
    relay.feed(block_.data(), got);
    return true;
  }

 private:
  std::FILE* file_ = nullptr;
  std::vector<char> block_;
};

class Run {
 public:
  Run(Child& child, const std::string& output, const Settings& settings,
      bool nph)
      : child_(child), tail_(output), relay_(nph),
        streaming_(settings.frame_interval_ms > 0),
        interval_(settings.frame_interval_ms),
        deadline_(Clock::now() + milliseconds(settings.timeout_ms)) {}

  RelayReport go();

 private:
  void watch_child();
  bool read_output();
  bool send_ready();

  Child& child_;
  OutputTail tail_;
  OutputRelay relay_;
  bool streaming_;
  milliseconds interval_;
  Clock::time_point deadline_;
  Clock::time_point next_part_ = Clock::now();
  std::string held_;
  Piece held_kind_ = Piece::kNone;
  RelayReport report_;
};

void Run::watch_child() {
  if (report_.exited || report_.timed_out) return;
  if (poll_child(child_, report_.exit_code) == ChildState::kExited) {
    report_.exited = true;
  } else if (Clock::now() >= deadline_) {
    kill_child(child_);
    report_.timed_out = true;
  }
}

// The file is read once the program has ended, or all along when
// streaming; the relay learns of the end only after the last bytes.
bool Run::read_output() {
  bool ended = report_.exited || report_.timed_out;
  if (!ended && !streaming_) return false;
  if (relay_.buffered() >= kReadAhead) return false;
  if (tail_.read_into(relay_)) return true;
  if (ended) relay_.finish();
  return false;
}

// Sends at most one piece; true when it sent one.
bool Run::send_ready() {
  if (held_kind_ == Piece::kNone) held_kind_ = relay_.next(held_);
  // A part larger than the read-ahead goes out unpaced, in pieces.
  if (held_kind_ == Piece::kNone && relay_.buffered() >= kReadAhead)
    held_kind_ = relay_.take_all(held_);
  if (held_kind_ == Piece::kNone) return false;
  if (held_kind_ == Piece::kFailed) {
    report_.bad_header = true;
    return false;
  }
  if (held_kind_ == Piece::kPart && streaming_ && Clock::now() < next_part_)
    return false;
  if (!write_stdout(held_)) {
    report_.stopped = true;
    return false;
  }
  report_.produced = true;
  if (held_kind_ == Piece::kPart) next_part_ = Clock::now() + interval_;
  held_.clear();
  held_kind_ = Piece::kNone;
  return true;
}

RelayReport Run::go() {
  for (;;) {
    if (stop_requested()) report_.stopped = true;
    if (report_.stopped) break;
    watch_child();
    if (report_.timed_out && !(streaming_ && report_.produced)) break;
    bool progress = read_output();
    progress |= send_ready();
    if (report_.bad_header || report_.stopped) break;
    if (relay_.done() && held_kind_ == Piece::kNone) break;
    if (!progress) std::this_thread::sleep_for(kPollStep);
  }
  kill_child(child_);
  return report_;
}

}  // namespace

RelayReport relay_program(Child& child, const std::string& output_path,
                          const Settings& settings, bool nph) {
  Run run(child, output_path, settings, nph);
  return run.go();
}

}  // namespace bridge
