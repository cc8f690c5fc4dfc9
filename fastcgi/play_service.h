// play_service.h: whirlo32-fastcgi's side of the FastCGI service: where its
// configuration is, the folder it plays in, the cached files, the runs.
#ifndef WHIRLO_FASTCGI_PLAY_SERVICE_H
#define WHIRLO_FASTCGI_PLAY_SERVICE_H

#include <memory>
#include <string>

#include "platform/posix/caching_file_system.h"
#include "play_run.h"
#include "service_command.h"

namespace fastcgi {

class PlayService : public bridge::ServiceFront {
 public:
  /// `own_path`: the program's own file, whose folder whirlo32 would run in.
  explicit PlayService(std::string own_path) : own_path_(std::move(own_path)) {}

  const char* name() const override { return "whirlo32-fastcgi"; }
  std::string usage() const override;
  bool take_option(const std::string& option, const std::string& value,
                   bool& known, std::string& problem) override;
  std::vector<std::string> unused_limits() const override {
    return {"max-children", "max-temp"};
  }
  bool prepare(bridge::ServiceOptions& options, std::string& problem) override;
  std::string serving(const bridge::ServiceOptions& options) const override;
  bool uses_private_folders() const override { return false; }
  bridge::RunMaker& maker(const bridge::ServiceOptions& options) override;

 private:
  std::string config_path() const;

  std::string own_path_;
  std::string config_;  // --config, absolute; "" = whirlo32's lookup
  std::string folder_;  // where relative names start
  platform::CacheBounds bounds_;
  std::unique_ptr<platform::CachingFileSystem> files_;
  std::unique_ptr<Player> player_;
  std::unique_ptr<PlayRunMaker> maker_;
};

}  // namespace fastcgi

#endif  // WHIRLO_FASTCGI_PLAY_SERVICE_H
