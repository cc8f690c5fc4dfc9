// program_run.h: the FastCGI service's run of the Windows CGI program: the
// job from the request's params and the service's options, the body in
// the content file, then a Stream over the program's output file.
#ifndef WHIRLO_BRIDGE_PROGRAM_RUN_H
#define WHIRLO_BRIDGE_PROGRAM_RUN_H

#include <memory>
#include <string>

#include "fastcgi_run.h"
#include "job.h"
#include "service_limits.h"
#include "service_options.h"
#include "spool.h"
#include "stream.h"
#include "stream_run.h"

namespace bridge {

class ProgramRun : public StreamRun {
 public:
  ProgramRun(const Limits& limits) : limits_(limits) {}
  Job& job() { return job_; }
  BodySpool& spool() { return body_; }

  bool body(std::string_view data, Refusal& refusal) override;
  bool start(Clock::time_point now, Refusal& refusal) override;
  bool busy() const override { return stream_ && stream_->program_running(); }
  bool wants_output() const override { return stream_->wants_output(); }
  std::uint64_t temp_bytes() const override;
  End end(Refusal& refusal) override;
  bool nph() const override { return job_.nph; }
  std::string name() const override { return job_.program; }

  int end_event() const override { return stream_->child().event; }
  std::string output_file() const override { return stream_->output_path(); }

 private:
  const Limits& limits_;
  Job job_;
  BodySpool body_;
};

class ProgramRunMaker : public RunMaker {
 public:
  explicit ProgramRunMaker(const ServiceOptions& options) : options_(options) {}
  std::unique_ptr<Run> open(const fcgi::Params& params, bool& nph,
                            Refusal& refusal) override;

 private:
  const ServiceOptions& options_;
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_PROGRAM_RUN_H
