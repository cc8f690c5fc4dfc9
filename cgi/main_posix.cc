// main_posix.cc: the CGI program's entry on POSIX. The command-line tail is
// argv[1], argv[2], ... joined with single blanks.
#include <iostream>
#include <string>

#include "command_tail.h"
#include "driver.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  static cgi::CgiProcess process(std::cout);
  return cgi::run_request(cgi::skip_separators(line), process);
}
