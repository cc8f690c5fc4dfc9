// relay.h: the CGI mode's wait, one run passed on to standard output.
#ifndef WHIRLO_BRIDGE_RELAY_H
#define WHIRLO_BRIDGE_RELAY_H

#include "stream.h"

namespace bridge {

/// Runs `stream` to its end, writing what it hands out to standard output;
/// stops early when the bridge must stop or the client is gone. The
/// program is gone when this returns.
void relay_to_stdout(Stream& stream);

/// Sleeps until something may have happened to one stream: its program
/// ended, its output file grew (while the stream wants more), the next part
/// is due, the time limit struck, or the bridge was asked to stop; notes a
/// client that has gone. Implemented in relay_posix.cc and relay_win32.cc.
class EventWait {
 public:
  explicit EventWait(const Stream& stream);
  EventWait(const EventWait&) = delete;
  EventWait& operator=(const EventWait&) = delete;
  ~EventWait();

  void wait(Stream& stream);

 private:
  struct State;
  State* state_;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_RELAY_H
