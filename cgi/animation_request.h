// animation_request.h: what one request plays, in which order, how often.
#ifndef WHIRLO_CGI_ANIMATION_REQUEST_H
#define WHIRLO_CGI_ANIMATION_REQUEST_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"

namespace cgi {

// Step codes of the step table.
inline constexpr std::int32_t STEP_UP = -1001;
inline constexpr std::int32_t STEP_DOWN = -1002;
inline constexpr std::int32_t STEP_RANDOM_RUN = -1003;
inline constexpr std::int32_t STEP_RANDOM_FRAME = -1004;
inline constexpr std::int32_t STEP_NAMED_BASE = 1000;  // + named picture j
inline constexpr std::int32_t STEP_FRAME_BASE = 2000;  // + frame number n
inline constexpr std::int32_t STEP_END = 0;            // 1 to 9: repeat count

inline constexpr int MAX_STEPS = 50;
inline constexpr int STEP_SLOTS = MAX_STEPS + 1;  // the last one stays 0

struct NamedPicture {
  std::string name;       // at most 12 characters
  std::string extension;  // at most 4 characters
};

struct AnimationRequest {
  std::string base_name;
  std::string animation_path;
  std::string still_name;
  std::string still_extension;
  std::string frame_extension;
  std::int32_t start_frame = 0;
  std::int32_t end_frame = 0;  // -1: counted when played
  bool animates = false;
  std::array<std::int32_t, STEP_SLOTS> steps{};
  std::array<std::unique_ptr<NamedPicture>, STEP_SLOTS> named_pictures;
};

/// Initial values: "Animation Path" from the configuration at
/// `config_path`, ".GIF" extensions, start frame 1, one ascending run.
void load_request_defaults(
    AnimationRequest& request, const std::string& config_path,
    platform::FileSystem& files = platform::system_files());

}  // namespace cgi

#endif  // WHIRLO_CGI_ANIMATION_REQUEST_H
