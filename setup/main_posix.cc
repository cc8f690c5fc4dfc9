// main_posix.cc: the installer's entry on POSIX, a terminal form on
// standard input and output.
#include <iostream>

#include "settings_dialog.h"
#include "terminal_form.h"

int main() {
  setup::TerminalUi ui(std::cin, std::cout);
  return setup::run_setup(ui, {"/var/www/cgi-win", "/var/www/anim"});
}
