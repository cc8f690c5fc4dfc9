// cgi_request.h: the request as the Windows CGI data file states it.
#ifndef WHIRLO_CGI_CGI_REQUEST_H
#define WHIRLO_CGI_CGI_REQUEST_H

#include <cstdint>
#include <string>

namespace cgi {

/// Reading the data file is construction: the five values are taken, then
/// the data file and the content file are deleted. `error_code` is 0, or
/// 1001 (empty path) or 1002 (nothing at the path) with every text empty.
struct CgiRequest {
  explicit CgiRequest(const std::string& path);

  std::string query_string;
  std::string user_agent;
  std::string referer;
  std::string content_file;
  std::string output_file;
  std::int32_t error_code = 0;
};

}  // namespace cgi

#endif
