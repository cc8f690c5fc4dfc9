// installation.h: copying the distribution set and writing the
// configuration file.
#ifndef WHIRLO_SETUP_INSTALLATION_H
#define WHIRLO_SETUP_INSTALLATION_H

#include <string>
#include <vector>

#include "setup_settings.h"
#include "setup_ui.h"

namespace setup {

/// Number of demonstration frames the installer copies.
inline constexpr int FRAME_COUNT = 13;

/// The names of the distribution set's files, as the installer copies them
/// from its current directory.
std::vector<std::string> distribution_files();

/// Copies the distribution files from the current directory into the two
/// directories of validated settings, asking before any replace, then
/// writes the four keys of "pelk.ini" in the CGI directory. False when a
/// replacing copy or a key write failed (each shown as message 7).
bool install_files(const SetupSettings& settings, SetupUi& ui);

}  // namespace setup

#endif  // WHIRLO_SETUP_INSTALLATION_H
