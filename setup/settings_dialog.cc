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
    if (!validate_settings(settings_, ui_)) return STAYS_OPEN;
    if (!install_files(settings_, ui_)) return STAYS_OPEN;
  } catch (const std::bad_alloc&) {
    show_setup_error(ui_, IDS_NO_MEMORY);
    return STAYS_OPEN;
  }
  ui_.open_help(HELP_FILE, HelpCommand::CONTENTS, "");
  ui_.message_box(INSTALLED_MESSAGE, SETUP_TITLE, Buttons::OK, Icon::NONE);
  return INSTALLED;
}

int SettingsDialog::command(int id, const FieldTexts& fields) {
  switch (id) {
    case OK_BUTTON: return install(fields);
    case CANCEL_BUTTON:
      ui_.message_box(CANCELLED_MESSAGE, SHORT_TITLE, Buttons::OK, Icon::NONE);
      return CANCELLED;
    case HELP_BUTTON:
      ui_.open_help(HELP_FILE, HelpCommand::KEYWORD, HELP_KEYWORD);
      return STAYS_OPEN;
  }
  return STAYS_OPEN;
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
  if (ui.run_dialog(dialog) == DIALOG_FAILED) {
    ui.message_box(CANNOT_RUN_MESSAGE, SHORT_TITLE, Buttons::OK, Icon::NONE);
  }
  return 1;
}

}  // namespace setup
