// job.h: one request's run of the Windows CGI program, the same in the CGI
// and the FastCGI mode: settings and program from the request's variables,
// the private folder, the data file, the start, and what the end means.
#ifndef WHIRLO_BRIDGE_JOB_H
#define WHIRLO_BRIDGE_JOB_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "environment.h"
#include "os.h"
#include "refusal.h"
#include "service_options.h"
#include "settings.h"
#include "spool.h"
#include "stream.h"

namespace bridge {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct Job {
  Environment env;
  Settings settings;
  bool nph = false;
  std::string program;
  Spool spool;  // the private folder; removed with the job
  // The output file open for reading, from before the program starts.
  std::unique_ptr<std::FILE, FileCloser> output;
};

/// Takes the request's variables `env`, reads the settings from
/// `settings_env`, finds the program next to `script` (the bridge's own
/// path, or the FastCGI request's SCRIPT_FILENAME) and makes the private
/// folder. False with `refusal` filled when it cannot.
bool open_job(Environment env, const Environment& settings_env,
              const std::string& script, Job& job, Refusal& refusal);

/// open_job for the FastCGI mode: the settings are the service's own,
/// lowered by the request's parameters `params` as lower_settings says, and
/// the program found from `script` must be one the service runs (403 when
/// it is not, 404 when it does not exist), otherwise nothing runs.
bool open_service_job(Environment params, const ServiceOptions& options,
                      const std::string& script, Job& job, Refusal& refusal);

/// True when the canonical `program` is one of `options.programs` or lies
/// directly in one of `options.program_folders`.
bool serves_program(const ServiceOptions& options, const std::string& program);

/// The refusal for a body that could not be spooled.
Refusal body_refusal(BodyResult result);

/// With the body in the content file (`body_length` bytes): writes the data
/// file and the empty output file, opens that for reading (job.output) and
/// starts the program.
bool start_job(Job& job, std::uint64_t body_length, Child& child,
               Refusal& refusal);

/// Logs how a run of `name` went as far as the stream tells (the time
/// limit, the output cap `max_output`, the service's bounds, a cut
/// response). True with `refusal` filled when the client is to get the
/// service's answer because nothing of the run's was sent.
bool judge_report(const std::string& name, std::uint64_t max_output,
                  const RelayReport& report, Refusal& refusal);

/// Logs how the run went (exit codes with their meaning, the time limit,
/// the output cap). True with `refusal` filled when the client is to get
/// the bridge's answer because nothing of the program's was sent.
bool judge_run(const Job& job, const RelayReport& report, Refusal& refusal);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_JOB_H
