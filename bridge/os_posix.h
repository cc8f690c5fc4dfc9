// os_posix.h: what the POSIX-only parts of the bridge (its waits and the
// FastCGI server) need beyond os.h.
#ifndef WHIRLO_BRIDGE_OS_POSIX_H
#define WHIRLO_BRIDGE_OS_POSIX_H

namespace bridge {

/// A descriptor that becomes readable when the bridge is asked to stop
/// (after prepare_process); -1 when there is none.
int stop_fd();

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_OS_POSIX_H
