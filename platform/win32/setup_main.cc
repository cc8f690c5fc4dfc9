// setup_main.cc: the installer's entry on Windows.
#include <windows.h>

#include "setup/settings_dialog.h"
#include "setup_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::Win32Ui ui(instance);
  return setup::run_setup(ui, {"c:\\www\\cgi-win", "c:\\www\\anim"});
}
