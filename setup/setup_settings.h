// setup_settings.h: the installer's four settings, their capacities and
// start values, and how they pass to and from the dialog's fields.
#ifndef WHIRLO_SETUP_SETUP_SETTINGS_H
#define WHIRLO_SETUP_SETUP_SETTINGS_H

#include <array>
#include <cstddef>
#include <string>

namespace setup {

// Characters each setting holds (the two directories, the two lists).
inline constexpr std::size_t DIRECTORY_CAPACITY = 143;
inline constexpr std::size_t LIST_CAPACITY = 49;

struct SetupSettings {
  std::string cgi_directory;
  std::string animation_directory;
  std::string allowed_referers;
  std::string animating_viewers;
};

/// The texts of the dialog's four fields, in tab order (ids 1000 to 1003).
using FieldTexts = std::array<std::string, 4>;

/// The platform's start values of the two directories when the
/// configuration file does not name them.
struct StartDirectories {
  std::string cgi_directory;
  std::string animation_directory;
};

/// The start values from "pelk.ini" in the Windows directory, section
/// "Whirl", each cut to its capacity; missing keys take their defaults.
SetupSettings read_start_settings(const StartDirectories& defaults);

FieldTexts settings_to_fields(const SetupSettings& settings);

/// The fields as settings, each cut to its capacity without a message.
SetupSettings fields_to_settings(const FieldTexts& fields);

}  // namespace setup

#endif  // WHIRLO_SETUP_SETUP_SETTINGS_H
