// main_posix.cc: the installer's entry on POSIX, a terminal form on
// standard input and output.
#include <iostream>
#include <string>
#include <vector>

#include "terminal_entry.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return setup::run_terminal_setup(args, std::cin, std::cout, std::cerr,
                                   {"/var/www/cgi-win", "/var/www/anim"});
}
