// os_win32.h: what the Windows-only parts of the bridge (its waits) need
// beyond os.h.
#ifndef WHIRLO_BRIDGE_OS_WIN32_H
#define WHIRLO_BRIDGE_OS_WIN32_H

namespace bridge {

/// An event handle set when the bridge is asked to stop (after
/// prepare_process); null when there is none.
void* stop_event();

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_OS_WIN32_H
