#include "play_service.h"

#include <unistd.h>

#include "config/config_file.h"
#include "config/config_names.h"
#include "os.h"
#include "platform/platform.h"
#include "program_path.h"
#include "settings.h"

namespace fastcgi {
namespace {

const char USAGE[] =
    "usage: whirlo32-fastcgi --fastcgi unix:PATH|ADDRESS:PORT [options]\n"
    "       whirlo32-fastcgi [options]   (listening socket as standard "
    "input)\n"
    "\n"
    "Plays whirlo32's animations in its own process for a web server's "
    "FastCGI\n"
    "requests, answering each as the bridge answers with whirlo32.\n"
    "\n"
    "Options:\n"
    "  --config PATH        the pelk.ini to read; relative names in it are "
    "taken\n"
    "                       from its folder (default: pelk.ini beside this "
    "program,\n"
    "                       else in the Windows directory, as whirlo32 looks "
    "it up,\n"
    "                       names taken from this program's folder)\n"
    "  --cache-bytes BYTES  file contents kept in memory at most (default "
    "67108864)\n"
    "  --cache-file BYTES   larger files are read from disk each time "
    "(default 8388608)\n";

}  // namespace

std::string PlayService::usage() const { return USAGE; }

bool PlayService::take_option(const std::string& option,
                              const std::string& value, bool& known,
                              std::string& problem) {
  known = true;
  std::uint64_t number = 0;
  if (option == "--config") {
    config_ = value;
  } else if (option == "--cache-bytes" || option == "--cache-file") {
    if (!bridge::parse_decimal(value, std::uint64_t(1) << 40, number)) {
      problem = option + " must be a number of bytes: " + value;
      return false;
    }
    (option == "--cache-bytes" ? bounds_.max_bytes : bounds_.max_file) = number;
  } else {
    known = false;
    return false;
  }
  return true;
}

// Relative names (an Animation Path of "frames/") are taken from the folder
// whirlo32 would run in: its own, or the configuration's when one is given.
bool PlayService::prepare(bridge::ServiceOptions&, std::string& problem) {
  if (!config_.empty()) {
    if (!bridge::is_absolute(config_)) {
      std::string here;
      if (!platform::current_directory(4096, here)) {
        problem = "--config " + config_ + ": the current folder is unknown";
        return false;
      }
      config_ = here + "/" + config_;
    }
    folder_ = bridge::folder_of(config_);
  } else {
    folder_ = bridge::folder_of(bridge::canonical_path(own_path_));
  }
  if (folder_.empty() || chdir(folder_.c_str()) != 0) {
    problem = "cannot work in the folder " + folder_;
    return false;
  }
  std::string actual;
  if (!config_.empty() && platform::system_files().find(config_, actual) ==
                              platform::EntryKind::MISSING)
    bridge::log_line("no configuration file at " + config_ +
                     " yet: each request looks again");
  return true;
}

// whirlo32's lookup (its current folder, then the Windows directory), made
// for every request so that a pelk.ini added or removed counts at once.
std::string PlayService::config_path() const {
  if (!config_.empty()) return config_;
  if (folder_.size() >= static_cast<std::size_t>(config::VALUE_CAPACITY))
    return config::FILE_NAME;
  return config::config_path_in(folder_, *files_);
}

std::string PlayService::serving(const bridge::ServiceOptions&) const {
  std::string where = config_.empty()
                          ? "pelk.ini beside it, else " +
                                platform::profile_location(config::FILE_NAME)
                          : config_;
  return "the animations of " + where + ", playing in " + folder_;
}

bridge::RunMaker& PlayService::maker(const bridge::ServiceOptions& options) {
  files_ = std::make_unique<platform::CachingFileSystem>(bounds_);
  platform::CachingFileSystem& files = *files_;
  player_ = std::unique_ptr<Player>(
      new Player{files, [this] { return config_path(); }, folder_,
                 [&files] { files.new_request(); }});
  maker_ = std::make_unique<PlayRunMaker>(options, *player_);
  return *maker_;
}

}  // namespace fastcgi
