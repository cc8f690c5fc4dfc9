// relay.h: waiting for the program while passing its output file on.
#ifndef WHIRLO_BRIDGE_RELAY_H
#define WHIRLO_BRIDGE_RELAY_H

#include <string>

#include "os.h"
#include "settings.h"

namespace bridge {

struct RelayReport {
  bool exited = false;       // the program ended by itself
  int exit_code = 0;
  bool timed_out = false;    // killed at the time limit
  bool produced = false;     // some response bytes were sent
  bool bad_header = false;   // the output's header could not be relayed
  bool stopped = false;      // the bridge was told to stop or the client left
};

/// Runs until the program has ended and its output is sent, the time limit
/// strikes, or the bridge must stop. With a frame interval the output file
/// is read while the program writes it and server-push parts go out no
/// faster than one per interval; without one the file is sent after the
/// program has ended, as a Windows CGI server does. The child is gone when
/// this returns.
RelayReport relay_program(Child& child, const std::string& output_path,
                          const Settings& settings, bool nph);

}  // namespace bridge

#endif
