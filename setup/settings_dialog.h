// settings_dialog.h: the logic of the settings dialog, apart from the
// window system that shows it.
#ifndef WHIRLO_SETUP_SETTINGS_DIALOG_H
#define WHIRLO_SETUP_SETTINGS_DIALOG_H

#include "setup_settings.h"
#include "setup_ui.h"

namespace setup {

// The dialog's command ids (its three buttons).
inline constexpr int OK_BUTTON = 1;
inline constexpr int CANCEL_BUTTON = 2;
inline constexpr int HELP_BUTTON = 3;

// Dialog results.
inline constexpr int STAYS_OPEN = 0;
inline constexpr int INSTALLED = 1;
inline constexpr int CANCELLED = 2;

class SettingsDialog {
 public:
  SettingsDialog(SetupSettings& settings, SetupUi& ui)
      : settings_(settings), ui_(ui) {}

  /// What the four fields show when the dialog opens.
  FieldTexts initial_fields() const { return settings_to_fields(settings_); }

  /// Carries out command `id` with the fields as they stand. Returns
  /// STAYS_OPEN, or the result to close the dialog with. Unknown ids are
  /// ignored.
  int command(int id, const FieldTexts& fields);

 private:
  int install(const FieldTexts& fields);

  SetupSettings& settings_;
  SetupUi& ui_;
};

/// The installer from start to end: reads the start values, runs the
/// dialog. Returns the process exit code.
int run_setup(SetupUi& ui, const StartDirectories& defaults);

}  // namespace setup

#endif  // WHIRLO_SETUP_SETTINGS_DIALOG_H
