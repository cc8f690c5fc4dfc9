#include "installation.h"

#include <string>
#include <utility>

#include "config/config_names.h"
#include "messages.h"
#include "platform/platform.h"

namespace setup {
namespace {

struct SingleFile {
  const char* source;
  const char* destination;
  const char* question;
  bool into_cgi_directory;
};

constexpr SingleFile SINGLE_FILES[] = {
    {"whirlo32._xe", "whirlo32.exe", "Whirlo32.EXE already exists, overwrite?",
     true},
    {"whirlo32.hlp", "whirlo32.hlp", "Whirlo-32.HLP already exists, overwrite?",
     false},
    {"whirlo32.wri", "whirlo32.wri", "Whirlo-32.WRI already exists, overwrite?",
     false},
    {"whirlo32._oc", "whirlo32.doc", "Whirlo-32.DOC already exists, overwrite?",
     false},
};

constexpr char PICTURE_QUESTION[] =
    "Whirlo#.GIF already exists, overwrite all?";

bool agrees(SetupUi& ui, const char* question) {
  return ui.message_box(question, SETUP_TITLE, Buttons::YES_NO, Icon::NONE) ==
         Answer::YES;
}

// A failed copy may have any cause; the question is asked all the same.
// False only when the administrator agreed and the replacing copy failed.
bool install_single(const SingleFile& file, const SetupSettings& settings,
                    SetupUi& ui) {
  std::string destination =
      (file.into_cgi_directory ? settings.cgi_directory
                               : settings.animation_directory) +
      file.destination;
  if (platform::copy_file(file.source, destination, true)) return true;
  if (!agrees(ui, file.question)) return true;
  if (platform::copy_file(file.source, destination, false)) return true;
  show_setup_error(ui, IDS_CANNOT_COPY);
  return false;
}

// One Yes to the picture question replaces this and every later frame.
bool install_frames(const std::string& directory, SetupUi& ui) {
  bool replace = false, all_copied = true;
  for (int n = 1; n <= FRAME_COUNT; ++n) {
    std::string number = std::to_string(n);
    std::string source = "whirlo" + number + "._if";
    std::string destination = directory + "whirlo" + number + ".gif";
    if (platform::copy_file(source, destination, !replace)) continue;
    if (!agrees(ui, PICTURE_QUESTION)) continue;
    replace = true;
    if (!platform::copy_file(source, destination, false)) {
      show_setup_error(ui, IDS_CANNOT_COPY);
      all_copied = false;
    }
  }
  return all_copied;
}

// All four keys are tried, in this order, whatever the copies did.
bool write_configuration(const SetupSettings& settings) {
  const std::string path = settings.cgi_directory + config::FILE_NAME;
  const std::pair<const char*, const std::string*> keys[] = {
      {config::ANIMATION_PATH, &settings.animation_directory},
      {config::ALLOW_ONLY, &settings.allowed_referers},
      {config::ALLOW_VIEWER, &settings.animating_viewers},
      {config::CGI_WIN_PATH, &settings.cgi_directory},
  };
  bool written = true;
  for (const auto& [key, value] : keys) {
    written &=
        platform::write_profile_string(config::SECTION, key, *value, path);
  }
  return written;
}

}  // namespace

std::vector<std::string> distribution_files() {
  std::vector<std::string> names;
  for (const SingleFile& file : SINGLE_FILES) names.push_back(file.source);
  for (int n = 1; n <= FRAME_COUNT; ++n)
    names.push_back("whirlo" + std::to_string(n) + "._if");
  return names;
}

bool install_files(const SetupSettings& settings, SetupUi& ui) {
  bool all_done = true;
  for (const SingleFile& file : SINGLE_FILES) {
    all_done &= install_single(file, settings, ui);
  }
  all_done &= install_frames(settings.animation_directory, ui);
  // A configuration that was not written must not be reported installed.
  if (!write_configuration(settings)) {
    show_setup_error(ui, IDS_CANNOT_COPY);
    all_done = false;
  }
  return all_done;
}

}  // namespace setup
