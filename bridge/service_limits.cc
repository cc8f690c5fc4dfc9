#include "service_limits.h"

#include <algorithm>
#include <cstddef>

#include "settings.h"

namespace bridge {
namespace {

struct LimitEntry {
  const char* name;
  const char* unit;
  std::uint64_t Limits::*field;
  std::uint64_t low, high;  // low bounds keep the service usable
  const char* meaning;
};

constexpr std::uint64_t GIB = std::uint64_t(1) << 30;
constexpr std::uint64_t DAY_MS = 86400000;
const LimitEntry ENTRIES[] = {
    {"max-children", "N", &Limits::max_children, 1, 100000,
     "programs running at once; past it a request gets 503"},
    {"max-connections", "N", &Limits::max_connections, 1, 1000000,
     "connections open at once; past it none is accepted"},
    {"max-requests", "N", &Limits::max_requests, 1, 65535,
     "requests at once on one connection; past it FCGI_OVERLOADED"},
    {"max-params", "BYTES", &Limits::max_params, 1024, GIB,
     "params of one request; past it the connection is closed"},
    {"max-params-total", "BYTES", &Limits::max_params_total, 1024, 64 * GIB,
     "params of all requests held; past it FCGI_OVERLOADED"},
    {"request-time-ms", "MS", &Limits::request_time_ms, 10, DAY_MS,
     "for a request's params and body to arrive; then it is closed"},
    {"queue-high-water", "BYTES", &Limits::queue_high_water, 1024, GIB,
     "queued to one connection before its peer is not read"},
    {"queue-cap", "BYTES", &Limits::queue_cap, 1024, 64 * GIB,
     "queued to one connection before it is closed"},
    {"read-ahead", "BYTES", &Limits::read_ahead, 1024, GIB,
     "program output held per stream beyond what was sent"},
    {"max-temp", "BYTES", &Limits::max_temp, 1024, 1024 * GIB,
     "of all output files; past it the run that grows is stopped"},
    {"stream-time-ms", "MS", &Limits::stream_time_ms, 10, DAY_MS,
     "the whole life of a run, paced or not (WINCGI_TIMEOUT may lower it)"},
    {"grace-ms", "MS", &Limits::grace_ms, 0, 600000,
     "for running streams after SIGTERM"},
};

}  // namespace

bool set_limit(const std::string& name, const std::string& value,
               Limits& limits, bool& known, std::string& problem) {
  const LimitEntry* entry = nullptr;
  for (const LimitEntry& candidate : ENTRIES)
    if (name == candidate.name) entry = &candidate;
  known = entry != nullptr;
  if (!entry) return false;
  std::uint64_t number = 0;
  if (!parse_decimal(value, entry->high, number) || number < entry->low) {
    problem = "--" + name + " must be a number from " +
              std::to_string(entry->low) + " to " + std::to_string(entry->high);
    return false;
  }
  limits.*(entry->field) = number;
  return true;
}

std::vector<std::string> limit_help() {
  const Limits defaults;
  std::vector<std::string> lines;
  for (const LimitEntry& entry : ENTRIES) {
    std::string line = std::string("--") + entry.name + " " + entry.unit;
    line.resize(std::max<std::size_t>(line.size() + 1, 26), ' ');
    lines.push_back(line + entry.meaning + " (default " +
                    std::to_string(defaults.*(entry.field)) + ")");
  }
  return lines;
}

}  // namespace bridge
