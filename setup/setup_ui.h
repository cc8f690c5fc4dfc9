// setup_ui.h: what the installer's core asks of its user interface. The
// platform supplies the real one (a Win32 dialog, a terminal form); tests
// answer from a script.
#ifndef WHIRLO_SETUP_SETUP_UI_H
#define WHIRLO_SETUP_SETUP_UI_H

#include <string>

namespace setup {

class SettingsDialog;

enum class Buttons { OK, OK_CANCEL, YES_NO };
enum class Icon { NONE, STOP };
enum class Answer { OK, CANCEL, YES, NO };
enum class HelpCommand { CONTENTS, KEYWORD };

/// run_dialog's result when the dialog cannot be created.
inline constexpr int DIALOG_FAILED = -1;

struct SetupUi {
  virtual ~SetupUi() = default;

  /// Shows a modal message box, owned by the settings dialog while it is
  /// open, and returns the button chosen.
  virtual Answer message_box(const std::string& text, const std::string& title,
                             Buttons buttons, Icon icon) = 0;

  /// The program's string resource `id`, at most 254 characters.
  virtual std::string load_string(int id) = 0;

  /// Runs the settings dialog modally: shows dialog.initial_fields(), hands
  /// every command to dialog.command() and ends when that returns a result
  /// other than 0. Returns that result, or DIALOG_FAILED.
  virtual int run_dialog(SettingsDialog& dialog) = 0;

  /// Asks the help engine to open `file` at its contents or at `keyword`.
  virtual void open_help(const std::string& file, HelpCommand command,
                         const std::string& keyword) = 0;
};

}  // namespace setup

#endif  // WHIRLO_SETUP_SETUP_UI_H
