#include "run.h"

#include <ctime>
#include <iostream>

#include "data_file.h"
#include "error_response.h"
#include "gmt_offset.h"
#include "os.h"
#include "program_path.h"
#include "relay.h"
#include "settings.h"
#include "spool.h"

namespace bridge {
namespace {

void log(const std::string& text) {
  std::cerr << "wincgi-bridge: " << text << std::endl;
}

int refuse(bool nph, const std::string& status, const std::string& reason) {
  log(status + ": " + reason);
  write_stdout(error_response(nph, status, reason));
  return 1;
}

int refuse_body(bool nph, BodyResult result) {
  switch (result) {
    case BodyResult::kMalformed:
      return refuse(nph, "400 Bad Request", "invalid CONTENT_LENGTH");
    case BodyResult::kShort:
      return refuse(nph, "400 Bad Request", "request body ended early");
    case BodyResult::kTooLarge:
      return refuse(nph, "413 Payload Too Large", "request body over the limit");
    default:
      return refuse(nph, "500 Internal Server Error", "cannot spool request body");
  }
}

int report_run(bool nph, const std::string& program, const RelayReport& report) {
  if (report.exited && report.exit_code != 0)
    log(program + " ended with exit code " + std::to_string(report.exit_code));
  if (report.timed_out) log(program + " was stopped at the time limit");
  if (report.produced || report.stopped) return 0;
  if (report.timed_out)
    return refuse(nph, "504 Gateway Timeout", "the program did not finish in time");
  if (report.bad_header)
    return refuse(nph, "502 Bad Gateway", "the program wrote an invalid header");
  return refuse(nph, "502 Bad Gateway", "the program wrote no response");
}

}  // namespace

int run_bridge(const char* argv0) {
  prepare_process();
  const std::string self = own_path(argv0);
  const bool nph = is_nph_name(self);
  const Environment env = environment();
  Settings settings;
  std::string problem;
  if (!read_settings(env, settings, problem))
    return refuse(nph, "500 Internal Server Error", problem);
  const std::string program = program_path(self, settings.program);
  if (program.empty())
    return refuse(nph, "500 Internal Server Error",
                  "no program to run: set WINCGI_PROGRAM");

  Spool spool;
  if (!spool.create(settings.temp_root.empty() ? default_temp_root()
                                               : settings.temp_root))
    return refuse(nph, "500 Internal Server Error",
                  "cannot make a temporary folder without blanks in its path");
  const SpoolFiles& files = spool.files();
  std::uint64_t body_length = 0;
  BodyResult body = spool_body(env_value(env, "CONTENT_LENGTH"),
                               settings.max_body, stdin, files.content,
                               body_length);
  if (body != BodyResult::kOk) return refuse_body(nph, body);
  std::string data =
      data_file_text(env, files, body_length, gmt_offset(std::time(nullptr)));
  if (!write_file(files.data, data) || !write_file(files.output, ""))
    return refuse(nph, "500 Internal Server Error", "cannot write the data file");

  Child child;
  std::vector<std::string> words = {files.data, files.content, files.output,
                                    url_args_word(env_value(env, "QUERY_STRING"))};
  if (!start_child(program, words, folder_of(program), child))
    return refuse(nph, "502 Bad Gateway", "cannot start " + program);
  return report_run(nph, program,
                    relay_program(child, files.output, settings, nph));
}

}  // namespace bridge
