#include "play_run.h"

#include <sstream>
#include <utility>

#include "cgi/animation_setup.h"
#include "cgi/cgi_request.h"
#include "cgi/messages.h"
#include "check.h"
#include "config/config_names.h"
#include "data_file.h"
#include "job.h"
#include "platform/posix/profile_parser.h"
#include "play_source.h"
#include "program_path.h"
#include "run_notes.h"

namespace fastcgi {
namespace {

// What the bridge answers when the program wrote nothing (errors 2001 and
// 1003 end it before its output file is opened).
const Refusal NO_RESPONSE = {"502 Bad Gateway",
                             "the program wrote no response"};

// The values whirlo32 reads from the data file the bridge would write for
// these params: the same text, read with the same profile rules.
cgi::CgiRequest request_values(const bridge::Environment& env,
                               std::uint64_t body_length) {
  std::string text =
      bridge::data_file_text(env, bridge::SpoolFiles(), body_length, 0);
  auto value = [&text](const char* section, const char* key) {
    return platform::profile_answer(&text, section, key, "",
                                    config::VALUE_CAPACITY);
  };
  cgi::CgiRequest request;
  request.query_string = value("CGI", "Query String");
  request.user_agent = value("Extra Headers", "User-Agent");
  request.referer = value("CGI", "Referer");
  return request;
}

void log_messages(const std::ostringstream& messages) {
  std::string text = messages.str();
  bridge::log_program_messages("whirlo32", text, text.size());
}

}  // namespace

PlayRun::PlayRun(Player& player, const bridge::Limits& limits,
                 bridge::Environment env, bridge::Settings settings, bool nph)
    : player_(player),
      limits_(limits),
      env_(std::move(env)),
      settings_(std::move(settings)),
      nph_(nph) {}

bool PlayRun::begin_body(Refusal& refusal) {
  bridge::BodyResult result = body_.begin(
      bridge::env_value(env_, "CONTENT_LENGTH"), settings_.max_body, "");
  if (result == bridge::BodyResult::OK) return true;
  refusal = bridge::body_refusal(result);
  return false;
}

bool PlayRun::body(std::string_view data, Refusal& refusal) {
  bridge::BodyResult result =
      data.empty() ? body_.end() : body_.add(data.data(), data.size());
  if (result == bridge::BodyResult::OK) return true;
  refusal = bridge::body_refusal(result);
  return false;
}

bool PlayRun::start(Clock::time_point now, Refusal& refusal) {
  bridge::RequestScope scope(env_);
  player_.new_request();
  cgi::CgiRequest values = request_values(env_, body_.length());
  std::string config_path = player_.config_path();
  std::ostringstream messages;
  auto request = std::make_unique<cgi::AnimationRequest>();
  int result = cgi::set_up_animation(values, config_path, player_.files,
                                     messages, *request);
  if (result != 0) {
    log_messages(messages);
    refusal = NO_RESPONSE;
    return false;
  }
  auto source = std::make_unique<PlaySource>(player_.files, std::move(request),
                                             cgi::clock_seconds());
  result = source->begin(messages);
  log_messages(messages);
  if (result == cgi::NO_PICTURES)
    bridge::diagnose_frames(
        bridge::view_configuration_at(player_.folder, config_path), env_,
        "no frame to play (error 1005)");
  // The bridge sends nothing of an output that whirlo32 wrote past the cap
  // before the bridge read it; made in the process, the whole response is
  // there at once, so one over the cap is refused before it begins.
  if (!source->fits(settings_.max_output)) {
    bridge::log_line("whirlo32: its output would pass WINCGI_MAX_OUTPUT (" +
                     std::to_string(settings_.max_output) + " bytes)");
    refusal = {"502 Bad Gateway", "the program's output is over the limit"};
    return false;
  }
  const PlaySource& played = *source;
  stream_ = std::make_unique<bridge::Stream>(
      bridge::Child(), std::move(source), std::string(), settings_, nph_, now);
  stream_->set_read_ahead(limits_.read_ahead);
  stream_->limit_life(now + std::chrono::milliseconds(limits_.stream_time_ms));
  played_ = &played;
  return true;
}

bridge::Run::End PlayRun::end(Refusal& refusal) {
  bridge::RequestScope scope(env_);
  const bridge::RelayReport& report = stream_->report();
  if (played_ && played_->pushes() && played_->parts() == 0 &&
      report.produced && !report.failed_after_output())
    bridge::diagnose_frames(
        bridge::view_configuration_at(player_.folder, player_.config_path()),
        env_, "the push stream ended without a picture");
  bool refused =
      bridge::judge_report(name(), settings_.max_output, report, refusal);
  if (report.failed_after_output()) return End::CUT_SHORT;
  return refused ? End::REFUSED : End::COMPLETE;
}

// Settings as the bridge's service takes them: its own, lowered by the
// params; the body as it takes it. No program is looked for.
std::unique_ptr<bridge::Run> PlayRunMaker::open(
    const bridge::fcgi::Params& params, bool& nph, Refusal& refusal) {
  bridge::Environment env;
  for (const auto& pair : params) env.emplace(pair.first, pair.second);
  std::string script = bridge::env_value(env, "SCRIPT_FILENAME");
  if (script.empty()) script = bridge::env_value(env, "SCRIPT_NAME");
  nph = bridge::is_nph_name(script);
  bridge::Settings settings;
  std::string problem;
  if (!bridge::lower_settings(env, options_.settings, settings, problem)) {
    refusal = {"500 Internal Server Error", problem};
    return nullptr;
  }
  auto run = std::make_unique<PlayRun>(player_, options_.limits, std::move(env),
                                       std::move(settings), nph);
  if (!run->begin_body(refusal)) return nullptr;
  return run;
}

}  // namespace fastcgi
