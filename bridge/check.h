// check.h: what the Windows CGI program will find when the bridge runs it:
// which pelk.ini it reads, the values there, the animation folder and the
// frames. Seen with the rights of the process that asks, so run it as the
// serving user.
#ifndef WHIRLO_BRIDGE_CHECK_H
#define WHIRLO_BRIDGE_CHECK_H

#include <ostream>
#include <string>
#include <vector>

namespace bridge {

struct ConfigView {
  std::string folder;   // the program's folder, its current directory
  std::string path;     // the pelk.ini it reads, or would read
  bool beside = false;  // found in the folder, not in the Windows directory
  bool exists = false;
  bool readable = false;
  std::string animation_path, allow_only, allow_viewer;
};

/// Looks up the configuration as the program in `folder` does.
ConfigView view_configuration(const std::string& folder);

/// The configuration at `config_path` (a bare name: in the Windows
/// directory), for a program in `folder`.
ConfigView view_configuration_at(const std::string& folder,
                                 const std::string& config_path);

/// The problems with the configuration and its animation folder, one short
/// sentence each; none when it looks sound.
std::vector<std::string> configuration_problems(const ConfigView& view);

/// The prefix of every picture path as the program, in its folder,
/// resolves Animation Path.
std::string picture_prefix(const ConfigView& view);

/// "missing", "not readable by the serving user" or "readable".
std::string file_state(const std::string& path);

/// One line for the log: the file read (or where it was looked for),
/// whether this user can read it, and the Animation Path.
std::string describe_configuration(const ConfigView& view);

/// `wincgi-bridge --check SCRIPT`: writes the program the script runs, its
/// configuration, the frames of the demonstration animation and each
/// problem found to `out`. 0 when there is none, 1 otherwise, 2 when the
/// script names no program.
int check_installation(const std::string& script, std::ostream& out);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_CHECK_H
