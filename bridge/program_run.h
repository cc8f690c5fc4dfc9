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

namespace bridge {

class ProgramRun : public Run {
 public:
  ProgramRun(const Limits& limits) : limits_(limits) {}
  Job& job() { return job_; }
  BodySpool& spool() { return body_; }

  bool body(std::string_view data, Refusal& refusal) override;
  bool start(Clock::time_point now, Refusal& refusal) override;
  void update(Clock::time_point now) override { stream_->update(now); }
  bool take(Clock::time_point now, std::string& piece) override {
    return stream_->take(now, piece);
  }
  Clock::time_point wake_time() const override { return stream_->wake_time(); }
  Clock::time_point deadline() const override { return stream_->deadline(); }
  bool finished() const override { return stream_->finished(); }
  bool busy() const override { return stream_ && stream_->program_running(); }
  bool wants_output() const override { return stream_->wants_output(); }
  std::uint64_t temp_bytes() const override;
  bool produced() const override {
    return stream_ && stream_->report().produced;
  }
  void cut() override { stream_->cut(); }
  void stop() override {
    if (stream_) stream_->stop();
  }
  End end(Refusal& refusal) override;
  bool nph() const override { return job_.nph; }
  std::string name() const override { return job_.program; }

  int end_event() const override { return stream_->child().event; }
  std::string output_file() const override { return stream_->output_path(); }

 private:
  const Limits& limits_;
  Job job_;
  BodySpool body_;
  std::unique_ptr<Stream> stream_;
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
