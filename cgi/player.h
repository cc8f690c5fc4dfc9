// player.h: turning an AnimationRequest into the HTTP response.
#ifndef WHIRLO_CGI_PLAYER_H
#define WHIRLO_CGI_PLAYER_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "animation_request.h"
#include "platform/file_system.h"
#include "random_generator.h"

namespace cgi {

/// Seconds since 1970, the random players' seed; asked at each random step.
using SeedClock = std::function<std::uint32_t()>;
std::uint32_t clock_seconds();

/// The last frame of the unbroken run of existing frames `prefix` + n +
/// `extension` from `start` upward, at most 98; start - 1 when the start
/// frame is missing.
std::int32_t count_frames(platform::FileSystem& files,
                          const std::string& prefix,
                          const std::string& extension, std::int32_t start);
std::int32_t count_frames(const std::string& prefix,
                          const std::string& extension, std::int32_t start);

/// One response's pictures, one at a time: the walk of play_request as a
/// sequence that can be taken up where it was left, so that a long stream
/// is made as it is sent. `request` must outlive it.
class Playback {
 public:
  Playback(platform::FileSystem& files, AnimationRequest& request,
           SeedClock clock = clock_seconds);

  /// Writes the start of the response to `out`: the status line, then the
  /// push stream's header block, or for an empty frame range the error
  /// page. Returns 0, or 1005 (message written to `errors`; nothing more
  /// is played).
  int begin(std::ostream& out, std::ostream& errors);

  /// The path of the next picture to play; false once there is none. A
  /// path may name no picture (missing, or no picture type): it is
  /// played as nothing.
  bool next(std::string& path);

 private:
  enum class Mode { START, STILL, WALK, DONE };
  enum class Run { NONE, UP, DOWN, RANDOM };

  bool next_name(std::string& name, std::string& extension);
  std::int32_t random_frame();
  void frame_name(std::int32_t n, std::string& name, std::string& extension);

  platform::FileSystem& files_;
  AnimationRequest& request_;
  SeedClock clock_;
  RandomGenerator random_;
  Mode mode_ = Mode::START;
  std::size_t entry_ = 0;   // the step being walked
  Run run_ = Run::NONE;     // the run of frames it plays, if any
  std::int32_t frame_ = 0;  // the run's next frame (up, down)
  std::int32_t left_ = 0;   // frames left of a random run
};

/// Writes the whole response to `out`: a server-push stream, one still
/// picture, or the error page. Returns 0, or 1005 (message written to
/// `errors`) when the frame range is empty.
/// The pictures are read from `files`; without it, from the system's.
int play_request(platform::FileSystem& files, AnimationRequest& request,
                 std::ostream& out, std::ostream& errors,
                 SeedClock clock = clock_seconds);
int play_request(AnimationRequest& request, std::ostream& out,
                 std::ostream& errors, SeedClock clock = clock_seconds);

}  // namespace cgi

#endif  // WHIRLO_CGI_PLAYER_H
