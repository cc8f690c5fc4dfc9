// relay_posix.cc: the CGI mode's wait on POSIX, with poll(2) on the
// program's pidfd, an inotify watch on the output file and the stop pipe.
#include "relay.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "os_posix.h"

namespace bridge {
namespace {

// Without a pidfd or an inotify instance (old kernels, the per-user limit
// reached) the wait falls back to short sleeps while the program runs.
constexpr int FALLBACK_STEP_MS = 5;

class OutputWatch {
 public:
  OutputWatch() = default;
  OutputWatch(const OutputWatch&) = delete;
  OutputWatch& operator=(const OutputWatch&) = delete;
  ~OutputWatch() { close_watch(); }

  // The descriptor to poll, watching `path` from the first call on; -1
  // when no watch can be had.
  int fd(const std::string& path) {
    if (fd_ == -1 && !failed_) {
      fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
      if (fd_ >= 0 &&
          inotify_add_watch(fd_, path.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0)
        close_watch();
      failed_ = fd_ < 0;
    }
    return fd_;
  }
  void drain() {
    char events[4096];
    while (fd_ >= 0 && read(fd_, events, sizeof events) > 0) {
    }
  }
  void close_watch() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool failed_ = false;
};

void wait_for_events(Stream& stream, OutputWatch& watch) {
  pollfd fds[4];
  nfds_t count = 0;
  bool fallback = false;
  fds[count++] = {1, 0, 0};  // only POLLERR/POLLHUP: the client is gone
  if (stop_fd() >= 0) fds[count++] = {stop_fd(), POLLIN, 0};
  if (stream.program_running()) {
    if (stream.child().event >= 0) {
      fds[count++] = {stream.child().event, POLLIN, 0};
    } else {
      fallback = true;
    }
  } else {
    watch.close_watch();  // the file is complete
  }
  if (stream.wants_output()) {
    int fd = watch.fd(stream.output_path());
    if (fd >= 0) {
      fds[count++] = {fd, POLLIN, 0};
    } else {
      fallback = true;
    }
  }
  Clock::time_point now = Clock::now();
  int timeout = timeout_ms(stream.wake_time(), now);
  if (fallback && (timeout < 0 || timeout > FALLBACK_STEP_MS))
    timeout = FALLBACK_STEP_MS;
  if (poll(fds, count, timeout) < 0 && errno != EINTR) return;
  if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) stream.stop();
  watch.drain();
}

}  // namespace

struct EventWait::State {
  OutputWatch watch;
};

EventWait::EventWait(const Stream&) : state_(new State) {}

EventWait::~EventWait() { delete state_; }

void EventWait::wait(Stream& stream) { wait_for_events(stream, state_->watch); }

}  // namespace bridge
