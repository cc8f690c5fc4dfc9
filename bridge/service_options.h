// service_options.h: how the FastCGI service was told to run by its own
// command line and environment (never by a peer).
#ifndef WHIRLO_BRIDGE_SERVICE_OPTIONS_H
#define WHIRLO_BRIDGE_SERVICE_OPTIONS_H

#include <string>
#include <vector>

#include "service_limits.h"

namespace bridge {

struct ServiceOptions {
  std::string address;  // "unix:PATH", "ADDRESS:PORT", "" = socket on stdin
  Limits limits;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SERVICE_OPTIONS_H
