#include "stream.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "program_exit.h"

namespace bridge {
namespace {

constexpr std::size_t BLOCK = 64 * 1024;

// One read buffer serves every stream of the process.
std::vector<char>& read_block() {
  static std::vector<char> block(BLOCK);
  return block;
}

}  // namespace

Stream::Stream(Child child, const std::string& output_path,
               const Settings& settings, bool nph, Clock::time_point now)
    : Stream(std::move(child), std::fopen(output_path.c_str(), "rb"),
             output_path, settings, nph, now) {}

Stream::Stream(Child child, std::FILE* tail, const std::string& output_path,
               const Settings& settings, bool nph, Clock::time_point now)
    : child_(std::move(child)),
      tail_(tail),
      relay_(nph),
      streaming_(settings.frame_interval_ms > 0),
      interval_(std::chrono::milliseconds(settings.frame_interval_ms)),
      deadline_(now + std::chrono::milliseconds(settings.timeout_ms)),
      next_part_(now),
      max_output_(settings.max_output),
      output_path_(output_path) {
  if (!tail_) {
    report_.unreadable = true;
    end_program();
  }
}

Stream::~Stream() {
  if (tail_) std::fclose(tail_);
}

void Stream::stop() {
  report_.stopped = true;
  kill_child(child_);
}

void Stream::cut() {
  report_.cut = true;
  end_program();
}

void Stream::limit_life(Clock::time_point deadline) {
  deadline_ = std::min(deadline_, deadline);
}

// The time limit holds for the whole run: a paced stream whose program has
// ended is cut at it too.
void Stream::update(Clock::time_point now) {
  if (program_running()) {
    if (poll_child(child_, report_.exit) == ChildState::EXITED) {
      report_.exited = true;
      // Nothing of a file the program failed to write goes out.
      report_.output_failed = output_failed(report_.exit) && !report_.produced;
    } else if (!streaming_ && file_size(output_path_) > max_output_) {
      over_cap();
    }
  }
  if (now >= deadline_ && !finished() &&
      (program_running() || report_.produced)) {
    kill_child(child_);
    report_.timed_out = true;
    return;
  }
  read_output();
}

void Stream::over_cap() {
  end_program();
  report_.over_cap = true;
}

// Unpaced, the file is read once the program has ended, as a Windows CGI
// server does; paced, all along. The relay learns of the end only after
// the last bytes.
void Stream::read_output() {
  if (!tail_ || file_ended_ || report_.over_cap) return;
  if (!streaming_ && program_running()) return;
  std::vector<char>& block = read_block();
  while (relay_.buffered() < read_ahead_) {
    std::size_t got = std::fread(block.data(), 1, block.size(), tail_);
    if (got == 0) {
      // The writer may still add to the file: drop the end-of-file state
      // and the stream's buffer, staying where we are.
      std::clearerr(tail_);
      std::fseek(tail_, 0, SEEK_CUR);
      if (!program_running()) {
        relay_.finish();
        file_ended_ = true;
      }
      return;
    }
    read_ += got;
    if (read_ > max_output_) {
      over_cap();
      return;
    }
    relay_.feed(block.data(), got);
  }
}

bool Stream::take(Clock::time_point now, std::string& out) {
  if (finished()) return false;
  read_output();
  if (held_kind_ == Piece::NONE) held_kind_ = relay_.next(held_);
  // A part larger than the read-ahead goes out unpaced, in pieces.
  if (held_kind_ == Piece::NONE && relay_.buffered() >= read_ahead_)
    held_kind_ = relay_.take_all(held_);
  if (held_kind_ == Piece::FAILED) report_.bad_header = true;
  if (held_kind_ == Piece::NONE || held_kind_ == Piece::FAILED) return false;
  if (held_kind_ == Piece::PART && streaming_) {
    if (now < next_part_) return false;
    next_part_ = now + interval_;
  }
  out.swap(held_);
  held_.clear();
  held_kind_ = Piece::NONE;
  report_.produced = true;
  return true;
}

Clock::time_point Stream::wake_time() const {
  Clock::time_point wake = deadline();
  if (finished()) return wake;
  if (held_kind_ == Piece::PART && streaming_)
    wake = std::min(wake, next_part_);
  return wake;
}

bool Stream::wants_output() const {
  return program_running() && streaming_ && held_kind_ == Piece::NONE &&
         relay_.buffered() < read_ahead_;
}

Clock::time_point Stream::deadline() const {
  if (finished() || !(program_running() || report_.produced))
    return Clock::time_point::max();
  return deadline_;
}

bool Stream::finished() const {
  if (report_.bad_header || report_.stopped || report_.over_cap ||
      report_.output_failed || report_.unreadable || report_.cut ||
      report_.timed_out)
    return true;
  return relay_.done() && held_kind_ == Piece::NONE;
}

}  // namespace bridge
