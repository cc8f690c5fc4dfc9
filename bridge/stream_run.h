// stream_run.h: a FastCGI run whose output goes through a Stream (its cut,
// pacing and time limit), whatever makes the bytes.
#ifndef WHIRLO_BRIDGE_STREAM_RUN_H
#define WHIRLO_BRIDGE_STREAM_RUN_H

#include <memory>
#include <string>

#include "fastcgi_run.h"
#include "stream.h"

namespace bridge {

class StreamRun : public Run {
 public:
  void update(Clock::time_point now) override { stream_->update(now); }
  bool take(Clock::time_point now, std::string& piece) override {
    return stream_->take(now, piece);
  }
  Clock::time_point wake_time() const override { return stream_->wake_time(); }
  Clock::time_point deadline() const override { return stream_->deadline(); }
  bool finished() const override { return stream_->finished(); }
  bool produced() const override {
    return stream_ && stream_->report().produced;
  }
  void cut() override { stream_->cut(); }
  void stop() override {
    if (stream_) stream_->stop();
  }

 protected:
  std::unique_ptr<Stream> stream_;  // from the start on
};

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_STREAM_RUN_H
