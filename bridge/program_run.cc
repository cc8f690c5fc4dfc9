#include "program_run.h"

#include <utility>

namespace bridge {

bool ProgramRun::body(std::string_view data, Refusal& refusal) {
  BodyResult result =
      data.empty() ? body_.end() : body_.add(data.data(), data.size());
  if (result == BodyResult::OK) return true;
  refusal = body_refusal(result);
  return false;
}

bool ProgramRun::start(Clock::time_point now, Refusal& refusal) {
  Child child;
  if (!start_job(job_, body_.length(), child, refusal)) return false;
  stream_ = std::make_unique<Stream>(std::move(child), job_.output.release(),
                                     job_.spool.files().output, job_.settings,
                                     job_.nph, now);
  stream_->set_read_ahead(limits_.read_ahead);
  stream_->limit_life(now + std::chrono::milliseconds(limits_.stream_time_ms));
  return true;
}

// A running program's content file is not counted: WINCGI_MAX_BODY bounds
// it.
std::uint64_t ProgramRun::temp_bytes() const {
  return file_size(stream_->output_path());
}

Run::End ProgramRun::end(Refusal& refusal) {
  stream_->end_program();
  bool refused = judge_run(job_, stream_->report(), refusal);
  if (stream_->report().failed_after_output()) return End::CUT_SHORT;
  return refused ? End::REFUSED : End::COMPLETE;
}

// The data file comes from the parameters; what runs, where its files go
// and the limits from the service's own options.
std::unique_ptr<Run> ProgramRunMaker::open(const fcgi::Params& params,
                                           bool& nph, Refusal& refusal) {
  Environment env;
  for (const auto& pair : params) env.emplace(pair.first, pair.second);
  std::string script = env_value(env, "SCRIPT_FILENAME");
  nph = false;
  if (script.empty()) {
    refusal = {"500 Internal Server Error", "no SCRIPT_FILENAME parameter"};
    return nullptr;
  }
  auto run = std::make_unique<ProgramRun>(options_.limits);
  Job& job = run->job();
  bool opened =
      open_service_job(std::move(env), options_, script, job, refusal);
  nph = job.nph;
  if (!opened) return nullptr;
  BodyResult body =
      run->spool().begin(env_value(job.env, "CONTENT_LENGTH"),
                         job.settings.max_body, job.spool.files().content);
  if (body != BodyResult::OK) {
    refusal = body_refusal(body);
    return nullptr;
  }
  return run;
}

}  // namespace bridge
