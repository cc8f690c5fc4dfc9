#include "cgi_request.h"

#include "config/config_names.h"
#include "messages.h"
#include "platform/platform.h"

namespace cgi {
namespace {

std::string read_value(const char* section, const char* key,
                       const std::string& path) {
  return platform::read_profile_string(section, key, "",
                                       config::kValueCapacity, path);
}

}  // namespace

CgiRequest::CgiRequest(const std::string& path) {
  if (path.empty()) {
    error_code = kNoCommandLine;
    return;
  }
  if (!platform::file_exists(path)) {
    error_code = kNoDataFile;
    return;
  }
  query_string = read_value("CGI", "Query String", path);
  user_agent = read_value("Extra Headers", "User-Agent", path);
  referer = read_value("CGI", "Referer", path);
  content_file = read_value("CGI", "Content File", path);
  output_file = read_value("System", "Output File", path);
  // Neither deletion is checked: a request without a body has no content
  // file, and the server may have removed it already.
  platform::delete_file(path);
  platform::delete_file(content_file);
}

}  // namespace cgi
