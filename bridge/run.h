// run.h: one request through the bridge, from the CGI/1.1 environment to
// the relayed response.
#ifndef WHIRLO_BRIDGE_RUN_H
#define WHIRLO_BRIDGE_RUN_H

namespace bridge {

/// Serves the request in the process environment and on standard input.
/// `argv0` locates the bridge. Returns the bridge's exit code: 0 when the
/// program's response was relayed, 1 when the bridge sent an error answer
/// or the response was cut after it had begun (time limit, output cap, a
/// failed write, the bridge stopped).
int run_bridge(const char* argv0);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_RUN_H
