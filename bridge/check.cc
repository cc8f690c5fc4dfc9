#include "check.h"

#include <fstream>

#include "config/config_file.h"
#include "config/config_names.h"
#include "os.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "program_path.h"

namespace bridge {
namespace {

// The demonstration animation that an empty query plays.
constexpr char DEMO_BASE[] = "Whirlo";
constexpr char DEMO_EXTENSION[] = ".GIF";
constexpr int MOST_FRAMES = 98;

bool can_read(const std::string& path) {
  std::string actual;
  if (!platform::readable_file_path(path, actual)) return false;
  std::ifstream file(actual, std::ios::binary);
  return file.is_open();
}

bool ends_with_separator(const std::string& path) {
  return !path.empty() &&
         std::string(PATH_SEPARATORS).find(path.back()) != std::string::npos;
}

// The folder the prefix names: up to its last separator.
std::string animation_folder(const ConfigView& view) {
  std::string prefix = picture_prefix(view);
  std::size_t last = prefix.find_last_of(PATH_SEPARATORS);
  return last == std::string::npos ? view.folder : prefix.substr(0, last + 1);
}

}  // namespace

std::string picture_prefix(const ConfigView& view) {
  const std::string& prefix = view.animation_path;
  if (is_absolute(prefix)) return prefix;
  return view.folder + PATH_SEPARATORS[0] + prefix;
}

std::string file_state(const std::string& path) {
  if (!platform::file_exists(path)) return "missing";
  return can_read(path) ? "readable" : "not readable by the serving user";
}

ConfigView view_configuration(const std::string& folder) {
  // A service looks long after its start: nothing it learnt before counts.
  platform::system_files().note_change();
  return view_configuration_at(folder, config::config_path_in(folder));
}

ConfigView view_configuration_at(const std::string& folder,
                                 const std::string& path) {
  platform::system_files().note_change();
  ConfigView view;
  view.folder = folder;
  view.beside = path != config::FILE_NAME;
  view.path = platform::profile_location(path);
  view.exists = platform::file_exists(view.path);
  view.readable = can_read(view.path);
  view.animation_path = config::read_cgi_setting(config::ANIMATION_PATH, path);
  view.allow_only = config::read_cgi_setting(config::ALLOW_ONLY, path);
  view.allow_viewer = config::read_cgi_setting(config::ALLOW_VIEWER, path);
  return view;
}

namespace {

// What is wrong with Animation Path and the folder it names.
std::vector<std::string> folder_problems(const ConfigView& view) {
  std::vector<std::string> problems;
  if (view.animation_path.empty()) {
    if (view.readable)
      problems.push_back("Animation Path is empty: frames are looked for in " +
                         view.folder);
    return problems;
  }
  if (!ends_with_separator(view.animation_path))
    problems.push_back("Animation Path " + view.animation_path +
                       " does not end with " + PATH_SEPARATORS[0] +
                       ": frame names are appended to it as they stand");
  std::string folder = animation_folder(view);
  if (!platform::file_exists(folder))
    problems.push_back("the animation folder " + folder + " does not exist");
  return problems;
}

}  // namespace

std::vector<std::string> configuration_problems(const ConfigView& view) {
  std::vector<std::string> problems;
  if (!view.exists) {
    problems.push_back("no configuration: neither " + view.folder +
                       PATH_SEPARATORS[0] + config::FILE_NAME + " nor " +
                       view.path + " exists");
  } else if (!view.readable) {
    problems.push_back(view.path + " cannot be read by this user");
  }
  for (const std::string& problem : folder_problems(view))
    problems.push_back(problem);
  return problems;
}

std::string describe_configuration(const ConfigView& view) {
  std::string text;
  if (!view.exists) {
    text = "no configuration file: looked for " + view.folder +
           PATH_SEPARATORS[0] + config::FILE_NAME + ", then " + view.path;
  } else {
    text = "configuration " + view.path +
           (view.readable ? " (readable" : " (NOT readable") +
           " by the serving user)";
  }
  text += ", Animation Path=" + view.animation_path;
  for (const std::string& problem : folder_problems(view))
    text += "; " + problem;
  return text;
}

int check_installation(const std::string& script, std::ostream& out) {
  std::string program = program_path(script, "");
  // The bridge started by its own name (from PATH) names no script.
  if (program.empty() || file_name_of(program) == file_name_of(script)) {
    out << "wincgi-bridge --check: no program for " << script
        << "; name the script, e.g. wincgi-bridge --check "
           "/usr/lib/whirlo32/whirlo32.cgi\n";
    return 2;
  }
  std::vector<std::string> problems;
  out << "program: " << program << "\n";
  if (!platform::file_exists(program))
    problems.push_back(program + " is missing");
  ConfigView view = view_configuration(folder_of(program));
  out << "configuration: " << view.path
      << (view.beside ? " (beside the program)" : " (the Windows directory's)")
      << (view.exists ? (view.readable ? ", readable" : ", NOT readable")
                      : ", missing")
      << "\n  Animation Path=" << view.animation_path
      << "\n  Allow Only=" << view.allow_only
      << "\n  Allow Viewer=" << view.allow_viewer << "\n";
  for (const std::string& problem : configuration_problems(view))
    problems.push_back(problem);
  int found = 0;
  std::string prefix = picture_prefix(view);
  for (int n = 1; n <= MOST_FRAMES; ++n) {
    std::string frame = prefix + DEMO_BASE + std::to_string(n) + DEMO_EXTENSION;
    if (!platform::file_exists(frame)) break;
    ++found;
    if (!can_read(frame)) problems.push_back(frame + " cannot be read");
  }
  out << "demonstration frames: " << found << " found as " << prefix
      << DEMO_BASE << "N" << DEMO_EXTENSION << " (any letter case)\n";
  if (found == 0)
    problems.push_back("no frame " + prefix + DEMO_BASE + "1" + DEMO_EXTENSION +
                       ": an empty query plays nothing");
  for (const std::string& problem : problems)
    out << "problem: " << problem << "\n";
  out << (problems.empty() ? "no problem found\n" : "");
  return problems.empty() ? 0 : 1;
}

}  // namespace bridge
