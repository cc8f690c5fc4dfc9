// animation_setup.h: what one request plays, from the values of its data
// file and the configuration: the referer list, the defaults, the query and
// the viewer list. Shared by whirlo32 and the FastCGI program that plays
// in its own process.
#ifndef WHIRLO_CGI_ANIMATION_SETUP_H
#define WHIRLO_CGI_ANIMATION_SETUP_H

#include <ostream>
#include <string>

#include "animation_request.h"
#include "cgi_request.h"
#include "platform/file_system.h"

namespace cgi {

/// Fills `request` for `cgi` with the configuration at `config_path` read
/// from `files`. Returns 0, or 2001 (the referer is refused) or 1003 (an
/// unknown picture extension) with the message written to `errors`; the
/// messages of unknown commands (2002) are written too and stop nothing.
int set_up_animation(const CgiRequest& cgi, const std::string& config_path,
                     platform::FileSystem& files, std::ostream& errors,
                     AnimationRequest& request);

}  // namespace cgi

#endif  // WHIRLO_CGI_ANIMATION_SETUP_H
