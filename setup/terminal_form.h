// terminal_form.h: the installer's user interface on POSIX, a form on a
// text stream: each field's label and value, one line read per field
// (empty keeps the value), then a command line (O, C or H; empty is OK).
// Message boxes read one line and take the button whose first letter it
// starts with; end of input chooses Cancel or No everywhere.
#ifndef WHIRLO_SETUP_TERMINAL_FORM_H
#define WHIRLO_SETUP_TERMINAL_FORM_H

#include <istream>
#include <ostream>
#include <string>

#include "setup_settings.h"
#include "setup_ui.h"

namespace setup {

class TerminalUi : public SetupUi {
 public:
  TerminalUi(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  Answer message_box(const std::string& text, const std::string& title,
                     Buttons buttons, Icon icon) override;
  std::string load_string(int id) override;
  int run_dialog(SettingsDialog& dialog) override;
  void open_help(const std::string& file, HelpCommand command,
                 const std::string& keyword) override;

  /// From now on a directory that belongs to the package manager is
  /// refused on OK (the form is shown again), and a start value there is
  /// replaced by the one in `replacements`.
  void guard_targets(const StartDirectories& replacements);

  /// True once the dialog has ended with the installation done.
  bool installed() const { return installed_; }

 private:
  void replace_managed_start_values(FieldTexts& fields);
  bool refuses_targets(const FieldTexts& fields);

  bool read_line(std::string& line);
  bool read_fields(FieldTexts& fields);
  int read_command();

  std::istream& in_;
  std::ostream& out_;
  bool guarded_ = false;
  StartDirectories replacements_;
  bool installed_ = false;
};

}  // namespace setup

#endif  // WHIRLO_SETUP_TERMINAL_FORM_H
