// main_win32.cc: the CGI program's entry on Windows. The command-line tail is
// formed from the full command line by our own rules, not the C runtime's.
#include <windows.h>

#include <iostream>

#include "command_tail.h"
#include "driver.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static cgi::CgiProcess process(std::cout);
  return cgi::run_request(cgi::command_tail(GetCommandLineA()), process);
}
