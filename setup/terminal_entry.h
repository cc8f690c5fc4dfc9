// terminal_entry.h: the POSIX installer's command line around its form:
// --help and --version, the distribution set checked before the form, and
// an exit code that says whether it installed.
#ifndef WHIRLO_SETUP_TERMINAL_ENTRY_H
#define WHIRLO_SETUP_TERMINAL_ENTRY_H

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "setup_settings.h"

namespace setup {

/// Runs the installer on `args` (without the program name) in the current
/// directory. 0 when it installed or printed its help or version, 1 when
/// it did not install (cancelled, or no distribution set here), 2 on an
/// unknown argument.
int run_terminal_setup(const std::vector<std::string>& args, std::istream& in,
                       std::ostream& out, std::ostream& err,
                       const StartDirectories& defaults);

}  // namespace setup

#endif  // WHIRLO_SETUP_TERMINAL_ENTRY_H
