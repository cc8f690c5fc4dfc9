// service_limits.h: the bounds of the FastCGI service, each a documented
// setting with a default; whoever reaches the socket cannot raise them.
#ifndef WHIRLO_BRIDGE_SERVICE_LIMITS_H
#define WHIRLO_BRIDGE_SERVICE_LIMITS_H

#include <cstdint>
#include <string>
#include <vector>

namespace bridge {

struct Limits {
  std::uint64_t max_children = 64;      // programs running at once; then 503
  std::uint64_t max_connections = 256;  // open connections; then not accepted
  std::uint64_t max_requests = 100;     // requests at once on one connection
  std::uint64_t max_params = 64 << 10;  // params bytes, one request
  std::uint64_t max_params_total = 16 << 20;   // params bytes, all requests
  std::uint64_t request_time_ms = 30000;       // until params and body end
  std::uint64_t queue_high_water = 256 << 10;  // stop reading the peer
  std::uint64_t queue_cap = 4 << 20;           // close the connection
  std::uint64_t read_ahead = 256 << 10;        // output held per stream
  std::uint64_t max_temp = std::uint64_t(1) << 30;  // all output files
  std::uint64_t stream_time_ms = 600000;            // a whole run, paced or not
  std::uint64_t grace_ms = 2000;                    // for runs after SIGTERM
};

/// One command-line setting of `limits`, named without its leading "--"
/// ("max-children"). False when `name` is not a limit (`known` false) or
/// `value` is out of range (`known` true, `problem` says why).
bool set_limit(const std::string& name, const std::string& value,
               Limits& limits, bool& known, std::string& problem);

/// The limits' names, defaults and meanings, one line each, for --help.
std::vector<std::string> limit_help();

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SERVICE_LIMITS_H
