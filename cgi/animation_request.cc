#include "animation_request.h"

#include "config/config_file.h"
#include "config/config_names.h"

namespace cgi {

void load_request_defaults(AnimationRequest& request,
                           const std::string& config_path,
                           platform::FileSystem& files) {
  request.animation_path =
      config::read_cgi_setting(config::ANIMATION_PATH, config_path, files);
  request.still_extension = ".GIF";
  request.frame_extension = ".GIF";
  request.start_frame = 1;
  request.steps.fill(STEP_END);
  for (auto& slot : request.named_pictures) slot.reset();
  request.steps[0] = STEP_UP;
}

}  // namespace cgi
