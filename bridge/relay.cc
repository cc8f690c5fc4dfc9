#include "relay.h"

namespace bridge {

void relay_to_stdout(Stream& stream) {
  EventWait events(stream);
  std::string piece;
  for (;;) {
    if (stop_requested()) stream.stop();
    Clock::time_point now = Clock::now();
    stream.update(now);
    while (stream.take(now, piece)) {
      if (!write_stdout(piece)) stream.stop();
    }
    if (stream.finished()) break;
    events.wait(stream);
  }
  stream.end_program();
}

}  // namespace bridge
