#include "setup_settings.h"

#include "config/config_names.h"
#include "platform/platform.h"

namespace setup {
namespace {

std::string read_start_value(const char* key, const std::string& def,
                             std::size_t capacity) {
  return platform::read_profile_string(config::SECTION, key, def, capacity + 1,
                                       config::FILE_NAME);
}

std::string cut(const std::string& text, std::size_t capacity) {
  return text.substr(0, capacity);
}

}  // namespace

SetupSettings read_start_settings(const StartDirectories& defaults) {
  SetupSettings settings;
  settings.animating_viewers =
      read_start_value(config::ALLOW_VIEWER, "Mozilla", LIST_CAPACITY);
  settings.allowed_referers =
      read_start_value(config::ALLOW_ONLY, "", LIST_CAPACITY);
  settings.animation_directory = read_start_value(
      config::ANIMATION_PATH, defaults.animation_directory, DIRECTORY_CAPACITY);
  settings.cgi_directory = read_start_value(
      config::CGI_WIN_PATH, defaults.cgi_directory, DIRECTORY_CAPACITY);
  return settings;
}

FieldTexts settings_to_fields(const SetupSettings& settings) {
  return {settings.cgi_directory, settings.animation_directory,
          settings.allowed_referers, settings.animating_viewers};
}

SetupSettings fields_to_settings(const FieldTexts& fields) {
  SetupSettings settings;
  settings.cgi_directory = cut(fields[0], DIRECTORY_CAPACITY);
  settings.animation_directory = cut(fields[1], DIRECTORY_CAPACITY);
  settings.allowed_referers = cut(fields[2], LIST_CAPACITY);
  settings.animating_viewers = cut(fields[3], LIST_CAPACITY);
  return settings;
}

}  // namespace setup
