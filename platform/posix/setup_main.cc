// setup_main.cc: the installer's entry on POSIX, a terminal form on
// standard input and output.
#include <iostream>

#include "setup/settings_dialog.h"
#include "setup_terminal.h"

int main() {
  platform::TerminalUi ui(std::cin, std::cout);
  return setup::run_setup(ui, {"/var/www/cgi-win", "/var/www/anim"});
}
