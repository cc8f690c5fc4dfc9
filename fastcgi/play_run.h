// play_run.h: one FastCGI request of whirlo32-fastcgi: the request whirlo32
// would read from a Windows CGI data file, built from the params, played in
// the process and streamed with the bridge's conversion, cut and pacing.
#ifndef WHIRLO_FASTCGI_PLAY_RUN_H
#define WHIRLO_FASTCGI_PLAY_RUN_H

#include <functional>
#include <memory>
#include <string>

#include "environment.h"
#include "fastcgi_run.h"
#include "platform/file_system.h"
#include "service_options.h"
#include "settings.h"
#include "spool.h"
#include "stream.h"
#include "stream_run.h"

namespace fastcgi {

class PlaySource;
using bridge::Clock;
using bridge::Refusal;

/// What every run of a service shares: the files it plays from, where its
/// configuration is, and the folder relative names are taken from.
struct Player {
  platform::FileSystem& files;
  /// The pelk.ini of a request that begins now (looked up again each time).
  std::function<std::string()> config_path;
  std::string folder;
  /// Called as each request begins, before anything is read.
  std::function<void()> new_request = [] {};
};

class PlayRun : public bridge::StreamRun {
 public:
  PlayRun(Player& player, const bridge::Limits& limits, bridge::Environment env,
          bridge::Settings settings, bool nph);

  /// Begins the body (CONTENT_LENGTH); false with `refusal` as the bridge
  /// refuses it.
  bool begin_body(Refusal& refusal);

  bool body(std::string_view data, Refusal& refusal) override;
  bool start(Clock::time_point now, Refusal& refusal) override;
  // Nothing runs beside the service and nothing is spooled: a run is
  // driven by its connection and its pacing alone.
  bool busy() const override { return false; }
  bool wants_output() const override { return false; }
  std::uint64_t temp_bytes() const override { return 0; }
  End end(Refusal& refusal) override;
  bool nph() const override { return nph_; }
  std::string name() const override { return "whirlo32"; }

 private:
  Player& player_;
  const bridge::Limits& limits_;
  bridge::Environment env_;
  bridge::Settings settings_;
  bool nph_;
  bridge::BodySpool body_;
  const PlaySource* played_ = nullptr;  // the stream's source
};

class PlayRunMaker : public bridge::RunMaker {
 public:
  PlayRunMaker(const bridge::ServiceOptions& options, Player& player)
      : options_(options), player_(player) {}
  std::unique_ptr<bridge::Run> open(const bridge::fcgi::Params& params,
                                    bool& nph, Refusal& refusal) override;

 private:
  const bridge::ServiceOptions& options_;
  Player& player_;
};

}  // namespace fastcgi

#endif  // WHIRLO_FASTCGI_PLAY_RUN_H
