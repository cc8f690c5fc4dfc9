// os_posix.h: what the POSIX-only parts of the bridge (its waits and the
// FastCGI server) need beyond os.h.
#ifndef WHIRLO_BRIDGE_OS_POSIX_H
#define WHIRLO_BRIDGE_OS_POSIX_H

#include <cstddef>
#include <string>

namespace bridge {

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
