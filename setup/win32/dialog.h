// dialog.h: the installer's user interface on Windows: the settings
// dialog from the resource script, message boxes and the help engine.
#ifndef WHIRLO_SETUP_WIN32_DIALOG_H
#define WHIRLO_SETUP_WIN32_DIALOG_H

#include <windows.h>

#include "setup/setup_ui.h"

namespace setup {

class Win32Ui : public SetupUi {
 public:
  explicit Win32Ui(HINSTANCE instance) : instance_(instance) {}

  Answer message_box(const std::string& text, const std::string& title,
                     Buttons buttons, Icon icon) override;
  std::string load_string(int id) override;
  int run_dialog(SettingsDialog& dialog) override;
  void open_help(const std::string& file, HelpCommand command,
                 const std::string& keyword) override;

 private:
  static INT_PTR CALLBACK settings_dialog_proc(HWND window, UINT message,
                                               WPARAM wparam, LPARAM lparam);
  void initialise(HWND window);
  void command(HWND window, int id);

  HINSTANCE instance_;
  HWND dialog_window_ = nullptr;  // owner of every box while it is open
  SettingsDialog* dialog_ = nullptr;
};

/// Centres a window on the screen, keeping its size, at the top of the Z
/// order. A window larger than the screen gets a negative position.
void centre_window(HWND window);

}  // namespace setup

#endif  // WHIRLO_SETUP_WIN32_DIALOG_H
