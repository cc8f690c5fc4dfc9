// settings.h: the bridge's few settings, taken from its environment (the
// web server's configuration sets them in the CGI mode; a client cannot,
// since request headers arrive only as HTTP_* variables). In the FastCGI
// mode they are the service's own, which a request can only lower.
#ifndef WHIRLO_BRIDGE_SETTINGS_H
#define WHIRLO_BRIDGE_SETTINGS_H

#include <cstdint>
#include <string>

#include "environment.h"

namespace bridge {

struct Settings {
  std::string program;         // WINCGI_PROGRAM; "" = derive from the name
  std::string temp_root;       // WINCGI_TEMP; "" = the platform's default
  long timeout_ms = 60000;     // WINCGI_TIMEOUT, in seconds
  long frame_interval_ms = 0;  // WINCGI_FRAME_INTERVAL, in milliseconds
  std::uint64_t max_body = 1 << 20;  // WINCGI_MAX_BODY, in bytes
  std::uint64_t max_output = std::uint64_t(64)
                             << 20;  // WINCGI_MAX_OUTPUT, bytes
};

/// Reads the settings. A value that is not a plain decimal number in range
/// is an error: `problem` names the variable and the result is false.
bool read_settings(const Environment& env, Settings& settings,
                   std::string& problem);

/// The settings of one FastCGI request: the service's own, with the limits
/// (WINCGI_TIMEOUT, WINCGI_MAX_BODY, WINCGI_MAX_OUTPUT) lowered where the
/// request's `params` ask for less and WINCGI_FRAME_INTERVAL taken from
/// them; WINCGI_PROGRAM and WINCGI_TEMP in them count for nothing. False as
/// read_settings when a value is malformed.
bool lower_settings(const Environment& params, const Settings& service,
                    Settings& result, std::string& problem);

/// Parses a plain decimal number (digits only) no greater than `limit`.
bool parse_decimal(const std::string& text, std::uint64_t limit,
                   std::uint64_t& value);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SETTINGS_H
