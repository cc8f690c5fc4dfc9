// cgi_request.h: the request as the Windows CGI data file states it.
#ifndef WHIRLO_CGI_CGI_REQUEST_H
#define WHIRLO_CGI_CGI_REQUEST_H

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace cgi {

/// The five values of a data file, and the reader's result: 0, or 1001
/// (empty path) or 1002 (nothing at the path) with every text empty.
struct CgiRequest {
  std::string query_string;
  std::string user_agent;
  std::string referer;
  std::string content_file;
  std::string output_file;
  std::int32_t error_code = 0;
};

/// Reads the data file at `path`, then deletes it and the content file it
/// names. Nothing is deleted when the data file is not there.
/// The file is read from `files`; the deletions are the system's.
CgiRequest read_cgi_request(
    const std::string& path,
    platform::FileSystem& files = platform::system_files());

}  // namespace cgi

#endif  // WHIRLO_CGI_CGI_REQUEST_H
