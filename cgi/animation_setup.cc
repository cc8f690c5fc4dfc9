#include "animation_setup.h"

#include "access_list.h"
#include "config/config_file.h"
#include "config/config_names.h"
#include "messages.h"
#include "query_parser.h"

namespace cgi {
namespace {

bool allowed(const std::string& value, const char* list_key,
             const std::string& config_path, platform::FileSystem& files) {
  std::string list = config::read_cgi_setting(list_key, config_path, files);
  return list_allows(value, list);
}

}  // namespace

int set_up_animation(const CgiRequest& cgi, const std::string& config_path,
                     platform::FileSystem& files, std::ostream& errors,
                     AnimationRequest& request) {
  if (!allowed(cgi.referer, config::ALLOW_ONLY, config_path, files)) {
    write_error(errors, REFERER_REFUSED);
    return REFERER_REFUSED;
  }
  load_request_defaults(request, config_path, files);
  std::string query = cgi.query_string;
  if (int result = parse_query(request, query, errors)) return result;
  request.animates =
      allowed(cgi.user_agent, config::ALLOW_VIEWER, config_path, files);
  return 0;
}

}  // namespace cgi
