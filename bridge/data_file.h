// data_file.h: the Windows CGI data file that describes one request.
#ifndef WHIRLO_BRIDGE_DATA_FILE_H
#define WHIRLO_BRIDGE_DATA_FILE_H

#include <cstdint>
#include <string>

#include "environment.h"

namespace bridge {

/// The three files of one run, full paths without blanks.
struct SpoolFiles {
  std::string data;
  std::string content;
  std::string output;
};

/// The text of the data file for the request in `env`: sections [CGI],
/// [Accept], [System] and [Extra Headers], CRLF line ends, keys with empty
/// values left out. `body_length` is the number of bytes in the content
/// file; `gmt_offset` the seconds to add to GMT for local time.
std::string data_file_text(const Environment& env, const SpoolFiles& files,
                           std::uint64_t body_length, long gmt_offset);

/// "Yes" when the client asked to keep its connection open, else "No".
std::string keep_alive(const Environment& env);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_DATA_FILE_H
