#include "setup_settings.h"

#include "config/config_names.h"
#include "platform/platform.h"

namespace setup {
namespace {

std::string read_start_value(const char* key, const std::string& def,
                             std::size_t capacity) {
  return platform::read_profile_string(config::kSection, key, def,
                                       capacity + 1, config::kFileName);
}

std::string cut(const std::string& text, std::size_t capacity) {
  return text.substr(0, capacity);
}

}  // namespace

SetupSettings read_start_settings(const StartDirectories& defaults) {
  SetupSettings settings;
  settings.animating_viewers =
      read_start_value(config::kAllowViewer, "Mozilla", kListCapacity);
  settings.allowed_referers =
      read_start_value(config::kAllowOnly, "", kListCapacity);
  settings.animation_directory = read_start_value(
      config::kAnimationPath, defaults.animation_directory, kDirectoryCapacity);
  settings.cgi_directory = read_start_value(
      config::kCgiWinPath, defaults.cgi_directory, kDirectoryCapacity);
  return settings;
}

FieldTexts settings_to_fields(const SetupSettings& settings) {
  return {settings.cgi_directory, settings.animation_directory,
          settings.allowed_referers, settings.animating_viewers};
}

SetupSettings fields_to_settings(const FieldTexts& fields) {
  SetupSettings settings;
  settings.cgi_directory = cut(fields[0], kDirectoryCapacity);
  settings.animation_directory = cut(fields[1], kDirectoryCapacity);
  settings.allowed_referers = cut(fields[2], kListCapacity);
  settings.animating_viewers = cut(fields[3], kListCapacity);
  return settings;
}

}  // namespace setup
