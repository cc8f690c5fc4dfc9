#include "cgi_request.h"

#include "config/config_names.h"
#include "messages.h"
#include "platform/platform.h"

namespace cgi {
namespace {

std::string read_value(platform::FileSystem& files, const char* section,
                       const char* key, const std::string& path) {
  return files.read_profile_string(section, key, "", config::VALUE_CAPACITY,
                                   path);
}

}  // namespace

CgiRequest read_cgi_request(const std::string& path,
                            platform::FileSystem& files) {
  CgiRequest request;
  if (path.empty()) {
    request.error_code = NO_COMMAND_LINE;
    return request;
  }
  std::string actual;
  if (files.find(path, actual) == platform::EntryKind::MISSING) {
    request.error_code = NO_DATA_FILE;
    return request;
  }
  request.query_string = read_value(files, "CGI", "Query String", path);
  request.user_agent = read_value(files, "Extra Headers", "User-Agent", path);
  request.referer = read_value(files, "CGI", "Referer", path);
  request.content_file = read_value(files, "CGI", "Content File", path);
  request.output_file = read_value(files, "System", "Output File", path);
  // Neither deletion is checked: a request without a body has no content
  // file, and the server may have removed it already.
  platform::delete_file(path);
  platform::delete_file(request.content_file);
  return request;
}

}  // namespace cgi
