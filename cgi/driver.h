// driver.h: one request, from the command-line tail to the exit code.
#ifndef WHIRLO_CGI_DRIVER_H
#define WHIRLO_CGI_DRIVER_H

#include <array>
#include <fstream>
#include <ostream>
#include <string>

#include "platform/file_system.h"

namespace cgi {

/// The process-wide objects of one run. The output buffer is declared
/// before the stream so that it outlives the stream's file: a run that ends
/// with 1005 leaves the file open until the process ends.
struct CgiProcess {
  explicit CgiProcess(
      std::ostream& error_channel,
      platform::FileSystem& file_system = platform::system_files())
      : errors(error_channel), files(file_system) {}

  std::array<char, 512> output_buffer{};
  std::ofstream output_stream;
  std::ostream& errors;
  platform::FileSystem& files;  // what the run reads
  std::string config_path;
};

/// Serves the request whose data file the tail names. Returns 0 after a
/// complete response, else the error number that ended the run.
int run_request(const std::string& tail, CgiProcess& process);

}  // namespace cgi

#endif  // WHIRLO_CGI_DRIVER_H
