// run_notes.h: what a run leaves in the server's log besides the bridge's
// own verdict: the program's messages, line by line, and, when a run
// served nothing useful for a reason the operator can mend, what the
// program read as its configuration. Every line names its request.
#ifndef WHIRLO_BRIDGE_RUN_NOTES_H
#define WHIRLO_BRIDGE_RUN_NOTES_H

#include <cstddef>
#include <string>

#include "check.h"
#include "environment.h"
#include "job.h"
#include "spool.h"
#include "stream.h"

namespace bridge {

/// Bytes of the program's messages that are logged per run; the rest is
/// counted, not logged.
constexpr std::size_t MAX_MESSAGE_BYTES = 4096;

/// Where the program's standard output and error go during its run: a
/// file in the private folder, removed with it.
std::string messages_path(const SpoolFiles& files);

/// "SCRIPT_NAME?QUERY_STRING" of a request, control bytes escaped, cut to
/// a few hundred bytes: safe for one log line.
std::string request_label(const Environment& env);
std::string request_label(const std::string& script_name,
                          const std::string& query);

/// While it lives, log_line names this request (the bridge serves one
/// request at a time per call chain, so one scope at a time suffices).
class RequestScope {
 public:
  explicit RequestScope(const Environment& env);
  /// With a label made by request_label.
  explicit RequestScope(std::string label);
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;
  ~RequestScope();

 private:
  std::string previous_;
};

/// The request that log lines name now; "" outside a scope.
const std::string& logged_request();

/// Logs the program's messages and, after error 1005 or a push stream
/// without a part, the configuration the program read; then names the
/// request in the log lines that follow, while it lives.
class RunNotes {
 public:
  RunNotes(const Job& job, const RelayReport& report);

 private:
  RequestScope scope_;
};

/// Logs a program's messages `text` line by line, each line "NAME: ...",
/// control bytes escaped; `size` is their whole length, of which the part
/// past `text` is only counted.
void log_program_messages(const std::string& name, const std::string& text,
                          std::uint64_t size);

/// Logs "WHAT: " with where the configuration `view` came from and how the
/// frames that `env`'s query asks for stand.
void diagnose_frames(const ConfigView& view, const Environment& env,
                     const std::string& what);

/// True when `output` (the start of an output file) is a push stream
/// whose header and boundary came but no part.
bool is_empty_push_stream(const std::string& output);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_RUN_NOTES_H
