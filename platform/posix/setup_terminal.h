// setup_terminal.h: the installer's user interface on POSIX, a form on a
// text stream: each field's label and value, one line read per field
// (empty keeps the value), then a command line (O, C or H; empty is OK).
// Message boxes read one line and take the button whose first letter it
// starts with; end of input chooses Cancel or No everywhere.
#ifndef WHIRLO_PLATFORM_POSIX_SETUP_TERMINAL_H
#define WHIRLO_PLATFORM_POSIX_SETUP_TERMINAL_H

#include <istream>
#include <ostream>
#include <string>

#include "setup/setup_settings.h"
#include "setup/setup_ui.h"

namespace platform {

class TerminalUi : public setup::SetupUi {
 public:
  TerminalUi(std::istream& in, std::ostream& out) : in_(in), out_(out) {}

  setup::Answer message_box(const std::string& text, const std::string& title,
                            setup::Buttons buttons, setup::Icon icon) override;
  std::string load_string(int id) override;
  int run_dialog(setup::SettingsDialog& dialog) override;
  void open_help(const std::string& file, setup::HelpCommand command,
                 const std::string& keyword) override;

 private:
  bool read_line(std::string& line);
  bool read_fields(setup::FieldTexts& fields);
  int read_command();

  std::istream& in_;
  std::ostream& out_;
};

}  // namespace platform

#endif
