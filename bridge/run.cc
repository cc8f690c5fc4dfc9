#include "run.h"

#include <cstdio>
#include <utility>

#include "error_response.h"
#include "job.h"
#include "os.h"
#include "relay.h"

namespace bridge {
namespace {

int refuse(bool nph, const Refusal& refusal) {
  log_line(refusal.status + ": " + refusal.reason);
  write_stdout(error_response(nph, refusal.status, refusal.reason));
  return 1;
}

// After the program's response has begun, the bridge's exit code is all the
// server learns of a response that was cut. (A program that ends with an
// error code after writing a whole response, as whirlo32 does for a
// missing frame, has answered.)
bool failed_after_output(const RelayReport& report) {
  return report.produced && (report.timed_out || report.over_cap ||
                             report.output_failed || report.stopped);
}

}  // namespace

int run_bridge(const char* argv0) {
  prepare_process();
  Job job;
  Refusal refusal;
  Environment env = environment();
  if (!open_job(env, env, own_path(argv0), job, refusal))
    return refuse(job.nph, refusal);
  std::uint64_t body_length = 0;
  BodyResult body =
      spool_body(env_value(job.env, "CONTENT_LENGTH"), job.settings.max_body,
                 stdin, job.spool.files().content, body_length);
  if (body != BodyResult::OK) return refuse(job.nph, body_refusal(body));
  Child child;
  if (!start_job(job, body_length, child, refusal))
    return refuse(job.nph, refusal);
  Stream stream(std::move(child), job.spool.files().output, job.settings,
                job.nph, Clock::now());
  relay_to_stdout(stream);
  if (judge_run(job, stream.report(), refusal)) return refuse(job.nph, refusal);
  return failed_after_output(stream.report()) ? 1 : 0;
}

}  // namespace bridge
