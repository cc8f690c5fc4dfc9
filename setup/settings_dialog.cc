#include "settings_dialog.h"

#include <new>

#include "installation.h"
#include "messages.h"
#include "validation.h"

namespace setup {

// Each OK is a complete attempt from the fields as typed; a failed one
// leaves the dialog open with nothing undone.
int SettingsDialog::install(const FieldTexts& fields) {
  try {
    settings_ = fields_to_settings(fields);
    if (!validate_settings(settings_, ui_)) return kStaysOpen;
    if (!install_files(settings_, ui_)) return kStaysOpen;
  } catch (const std::bad_alloc&) {
    show_setup_error(ui_, IDS_NO_MEMORY);
    return kStaysOpen;
  }
  ui_.open_help(kHelpFile, HelpCommand::contents, "");
  ui_.message_box(kInstalledMessage, kSetupTitle, Buttons::ok, Icon::none);
  return kInstalled;
}

int SettingsDialog::command(int id, const FieldTexts& fields) {
  switch (id) {
    case kOkCommand:
      return install(fields);
    case kCancelCommand:
      ui_.message_box(kCancelledMessage, kShortTitle, Buttons::ok, Icon::none);
      return kCancelled;
    case kHelpCommand:
      ui_.open_help(kHelpFile, HelpCommand::keyword, kHelpKeyword);
      return kStaysOpen;
  }
  return kStaysOpen;
}

int run_setup(SetupUi& ui, const StartDirectories& defaults) {
  SetupSettings settings;
  try {
    settings = read_start_settings(defaults);
  } catch (const std::bad_alloc&) {
    show_setup_error(ui, IDS_NO_MEMORY);
    return 0;
  }
  SettingsDialog dialog(settings, ui);
  if (ui.run_dialog(dialog) == kDialogFailed) {
    ui.message_box(kCannotRunMessage, kShortTitle, Buttons::ok, Icon::none);
  }
  return 1;
}

}  // namespace setup
