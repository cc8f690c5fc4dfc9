// refusal.h: the bridge's own answer instead of a program's, and the log.
#ifndef WHIRLO_BRIDGE_REFUSAL_H
#define WHIRLO_BRIDGE_REFUSAL_H

#include <string>

namespace bridge {

/// The bridge's own answer instead of the program's.
struct Refusal {
  std::string status;  // "502 Bad Gateway"
  std::string reason;  // one line, for the client and the log
};

/// Writes one line to the server's error log: "NAME: [REQUEST] TEXT".
void log_line(const std::string& text);

/// The program's name that starts each log line ("wincgi-bridge" unless
/// set).
void set_log_name(const std::string& name);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_REFUSAL_H
