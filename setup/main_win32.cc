// main_win32.cc: the installer's entry on Windows.
#include <windows.h>

#include "settings_dialog.h"
#include "win32/dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  setup::Win32Ui ui(instance);
  return setup::run_setup(ui, {"c:\\www\\cgi-win", "c:\\www\\anim"});
}
