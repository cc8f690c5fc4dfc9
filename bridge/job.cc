#include "job.h"

#include <ctime>
#include <iostream>

#include "data_file.h"
#include "gmt_offset.h"
#include "program_exit.h"
#include "program_path.h"
#include "run_notes.h"

namespace bridge {

namespace {

std::string& log_name() {
  static std::string name = "wincgi-bridge";
  return name;
}

}  // namespace

void set_log_name(const std::string& name) { log_name() = name; }

// One write per line: bridges started side by side share the server's log,
// and lines written in pieces would interleave.
void log_line(const std::string& text) {
  const std::string& request = logged_request();
  std::string line = log_name() + ": ";
  if (!request.empty()) line += "[" + request + "] ";
  line += text;
  line += '\n';
  std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cerr.flush();
}

namespace {

// A peer's name for the log: on one line, and not past a few hundred bytes.
std::string loggable(const std::string& name) {
  std::string text = name.substr(0, 300);
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < ' ' || c == 127) c = '?';
  }
  return name.size() > text.size() ? text + "..." : text;
}

bool make_spool(Job& job, Refusal& refusal) {
  const std::string& root = job.settings.temp_root;
  if (!job.spool.create(root.empty() ? default_temp_root() : root)) {
    refusal = {"500 Internal Server Error",
               "cannot make a temporary folder without blanks in its path"};
    return false;
  }
  return true;
}

}  // namespace

bool open_job(Environment env, const Environment& settings_env,
              const std::string& script, Job& job, Refusal& refusal) {
  job.env = std::move(env);
  job.nph = is_nph_name(script);
  std::string problem;
  if (!read_settings(settings_env, job.settings, problem)) {
    refusal = {"500 Internal Server Error", problem};
    return false;
  }
  job.program = program_path(script, job.settings.program);
  if (job.program.empty()) {
    refusal = {"500 Internal Server Error",
               "no program to run: set WINCGI_PROGRAM"};
    return false;
  }
  return make_spool(job, refusal);
}

bool serves_program(const ServiceOptions& options, const std::string& program) {
  for (const std::string& allowed : options.programs)
    if (program == allowed) return true;
  std::string folder = folder_of(program);
  for (const std::string& allowed : options.program_folders)
    if (folder == allowed) return true;
  return false;
}

bool open_service_job(Environment params, const ServiceOptions& options,
                      const std::string& script, Job& job, Refusal& refusal) {
  job.env = std::move(params);
  job.nph = is_nph_name(script);
  std::string problem;
  if (!lower_settings(job.env, options.settings, job.settings, problem)) {
    refusal = {"500 Internal Server Error", problem};
    return false;
  }
  std::string named = program_path(script, job.settings.program);
  job.program = named.empty() ? named : canonical_path(named);
  if (job.program.empty()) {
    log_line("no program for SCRIPT_FILENAME " + loggable(script));
    refusal = {"404 Not Found", "no such program"};
    return false;
  }
  if (!serves_program(options, job.program)) {
    log_line("not a program this service runs: " + loggable(job.program) +
             " (SCRIPT_FILENAME " + loggable(script) + ")");
    refusal = {"403 Forbidden", "not a program this service runs"};
    return false;
  }
  return make_spool(job, refusal);
}

Refusal body_refusal(BodyResult result) {
  switch (result) {
    case BodyResult::MALFORMED:
      return {"400 Bad Request", "invalid CONTENT_LENGTH"};
    case BodyResult::SHORT:
      return {"400 Bad Request", "request body ended early"};
    case BodyResult::TOO_LARGE:
      return {"413 Payload Too Large", "request body over the limit"};
    default: return {"500 Internal Server Error", "cannot spool request body"};
  }
}

bool start_job(Job& job, std::uint64_t body_length, Child& child,
               Refusal& refusal) {
  const SpoolFiles& files = job.spool.files();
  std::string data = data_file_text(job.env, files, body_length,
                                    gmt_offset(std::time(nullptr)));
  if (!write_file(files.data, data) || !write_file(files.output, "")) {
    refusal = {"500 Internal Server Error", "cannot write the data file"};
    return false;
  }
  job.output.reset(std::fopen(files.output.c_str(), "rb"));
  if (!job.output) {
    refusal = {"502 Bad Gateway",
               "cannot open the output file " + files.output};
    return false;
  }
  std::vector<std::string> words = {
      files.data, files.content, files.output,
      url_args_word(env_value(job.env, "QUERY_STRING"))};
  // One byte past the cap, so that the relay sees the cap passed.
  if (!start_child(job.program, words, folder_of(job.program),
                   messages_path(files), job.settings.max_output + 1, child)) {
    refusal = {"502 Bad Gateway", "cannot start " + job.program};
    return false;
  }
  return true;
}

bool judge_run(const Job& job, const RelayReport& report, Refusal& refusal) {
  const RunNotes notes(job, report);
  if (report.exited && (report.exit.code != 0 || report.exit.signal != 0))
    log_line(job.program + " ended with " + describe_exit(report.exit));
  return judge_report(job.program, job.settings.max_output, report, refusal);
}

bool judge_report(const std::string& program, std::uint64_t max_output,
                  const RelayReport& report, Refusal& refusal) {
  if (report.timed_out) log_line(program + " was stopped at the time limit");
  if (report.over_cap)
    log_line(program + " was stopped: its output passed WINCGI_MAX_OUTPUT (" +
             std::to_string(max_output) + " bytes)");
  if (report.cut) log_line(program + " was stopped at a bound of the service");
  if (report.failed_after_output())
    log_line(program + ": the response was cut short");
  if (report.produced || report.stopped) return false;
  if (report.unreadable) {
    refusal = {"502 Bad Gateway", "cannot open the output file"};
    return true;
  }
  if (report.timed_out) {
    refusal = {"504 Gateway Timeout", "the program did not finish in time"};
  } else if (report.over_cap || report.cut) {
    refusal = {"502 Bad Gateway", "the program's output is over the limit"};
  } else if (report.bad_header) {
    refusal = {"502 Bad Gateway", "the program wrote an invalid header"};
  } else if (report.output_failed) {
    refusal = {"502 Bad Gateway", "the program could not write its output"};
  } else {
    refusal = {"502 Bad Gateway", "the program wrote no response"};
  }
  return true;
}

}  // namespace bridge
