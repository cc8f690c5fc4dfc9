// program_exit.h: what the Windows CGI program's exit codes mean.
#ifndef WHIRLO_BRIDGE_PROGRAM_EXIT_H
#define WHIRLO_BRIDGE_PROGRAM_EXIT_H

#include <string>

#include "os.h"

namespace bridge {

/// For the log: "exit code 236 (error 1004: the output file cannot be
/// opened or written)", or "signal 9".
std::string describe_exit(const ProgramExit& exit);

/// The error number the exit code stands for (1001 ...), 0 when none.
int error_number(const ProgramExit& exit);

/// True when the program said it could not write its output file (error
/// 1004), so that what the file holds is not a response.
bool output_failed(const ProgramExit& exit);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_PROGRAM_EXIT_H
