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

// The program's output file: read where it ends now, and again later as
// the program adds to it.
class FileTail : public OutputSource {
 public:
  explicit FileTail(std::FILE* file) : file_(file) {}
  ~FileTail() override { std::fclose(file_); }
  std::size_t read(char* block, std::size_t size) override {
    // The writer may have added to the file since the last read reached its
    // end: drop the end-of-file state and the stream's buffer, staying where
    // we are, or a C library that keeps that state would read nothing more.
    std::clearerr(file_);
    std::fseek(file_, 0, SEEK_CUR);
    return std::fread(block, 1, size, file_);
  }

 private:
  std::FILE* file_;
};

std::unique_ptr<OutputSource> file_tail(std::FILE* file) {
  if (!file) return nullptr;
  return std::make_unique<FileTail>(file);
}

}  // namespace

Stream::Stream(Child child, const std::string& output_path,
               const Settings& settings, bool nph, Clock::time_point now)
    : Stream(std::move(child), std::fopen(output_path.c_str(), "rb"),
             output_path, settings, nph, now) {}

Stream::Stream(Child child, std::FILE* tail, const std::string& output_path,
               const Settings& settings, bool nph, Clock::time_point now)
    : Stream(std::move(child), file_tail(tail), output_path, settings, nph,
             now) {}

Stream::Stream(Child child, std::unique_ptr<OutputSource> source,
               const std::string& output_path, const Settings& settings,
               bool nph, Clock::time_point now)
    : child_(std::move(child)),
      tail_(std::move(source)),
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
  fill();
}

void Stream::over_cap() {
  end_program();
  report_.over_cap = true;
}

// Reads until a piece can be cut (or the read-ahead is full), so that a
// paced stream holds little more than its next part. Unpaced, the file is
// read once the program has ended, as a Windows CGI server does; paced,
// all along.
void Stream::fill() {
  while (held_kind_ == Piece::NONE) {
    held_kind_ = relay_.next(held_);
    if (held_kind_ != Piece::NONE) return;
    // A part larger than the read-ahead goes out unpaced, in pieces.
    if (relay_.buffered() >= read_ahead_) {
      held_kind_ = relay_.take_all(held_);
      return;
    }
    if (!read_more()) return;
  }
}

// One block more for the relay; false when none came. The relay learns of
// the end only after the last bytes.
bool Stream::read_more() {
  if (!tail_ || file_ended_ || report_.over_cap) return false;
  if (!streaming_ && program_running()) return false;
  std::vector<char>& block = read_block();
  std::size_t got = tail_->read(block.data(), block.size());
  if (got == 0) {
    if (!program_running()) {
      relay_.finish();
      file_ended_ = true;
      return true;  // the relay may now hand out the last part
    }
    return false;
  }
  read_ += got;
  if (read_ > max_output_) {
    over_cap();
    return false;
  }
  relay_.feed(block.data(), got);
  return true;
}

bool Stream::take(Clock::time_point now, std::string& out) {
  if (finished()) return false;
  fill();
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
