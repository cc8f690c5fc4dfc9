#include "validation.h"

#include "messages.h"
#include "platform/platform.h"

namespace setup {
namespace {

constexpr char PROBE_NAME[] = "~whl.tmp";

// Only the platform's own separator counts; an empty text stays empty.
void add_separator(std::string& directory) {
  if (!directory.empty() && directory.back() != platform::SEPARATOR) {
    directory += platform::SEPARATOR;
  }
}

// A directory is valid when a file can be created in it. The probe, and
// whatever stood under its name before, are gone afterwards; a link there
// is removed itself, never followed.
bool probe_directory(const std::string& directory) {
  return !directory.empty() && platform::probe_file(directory + PROBE_NAME);
}

bool ask(SetupUi& ui, const char* question) {
  return ui.message_box(question, SETUP_TITLE, Buttons::OK_CANCEL,
                        Icon::NONE) == Answer::OK;
}

bool check_animation_directory(const std::string& directory, SetupUi& ui) {
  if (probe_directory(directory)) return true;
  if (directory.empty() || !ask(ui, CREATE_QUESTION)) {
    show_setup_error(ui, IDS_INVALID_ANIMATION_PATH);
    return false;
  }
  if (!platform::create_directory(directory)) {
    show_setup_error(ui, IDS_CANNOT_CREATE_PATH);
    return false;
  }
  return true;
}

void check_viewers(std::string& viewers, SetupUi& ui) {
  if (viewers.find("Mozilla") == std::string::npos &&
      ask(ui, VIEWER_QUESTION)) {
    viewers = "Mozilla";
  }
}

}  // namespace

bool validate_settings(SetupSettings& settings, SetupUi& ui) {
  add_separator(settings.cgi_directory);
  add_separator(settings.animation_directory);
  if (!probe_directory(settings.cgi_directory)) {
    show_setup_error(ui, IDS_INVALID_CGI_PATH);
    return false;
  }
  if (!check_animation_directory(settings.animation_directory, ui)) {
    return false;
  }
  check_viewers(settings.animating_viewers, ui);
  return true;
}

}  // namespace setup
