// os_posix.h: what the POSIX-only parts of the bridge (its waits and the
// FastCGI server) need beyond os.h.
#ifndef WHIRLO_BRIDGE_OS_POSIX_H
#define WHIRLO_BRIDGE_OS_POSIX_H

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>

namespace bridge {

/// Milliseconds from `now` until `due` for poll and epoll_wait, rounded up
/// so that a wait never ends before it; -1 (no end) for time_point::max().
inline int timeout_ms(std::chrono::steady_clock::time_point due,
                      std::chrono::steady_clock::time_point now) {
  if (due == std::chrono::steady_clock::time_point::max()) return -1;
  if (due <= now) return 0;
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
  return static_cast<int>(std::min<long long>(ms + 1, 1 << 30));
}

/// A descriptor that becomes readable when the bridge is asked to stop
/// (after prepare_process); -1 when there is none.
int stop_fd();

/// Removes the private folders in `root` (see make_private_folder) left by
/// bridge processes that are gone; returns how many. make_private_folder
/// does this itself the first time it is used with a root.
std::size_t sweep_temp_root(const std::string& root);

/// Collects killed programs that had not ended when kill_child returned
/// (waiting for them when `wait`); returns how many are still to collect.
std::size_t collect_killed_children(bool wait);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_OS_POSIX_H
