// main_win32.cc: the entry of the CGI/1.1 to Windows CGI bridge on Windows.
#include "run.h"

int main(int argc, char** argv) {
  return bridge::run_bridge(argc > 0 ? argv[0] : "");
}
