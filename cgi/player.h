// player.h: turning an AnimationRequest into the HTTP response.
#ifndef WHIRLO_CGI_PLAYER_H
#define WHIRLO_CGI_PLAYER_H

#include <cstdint>
#include <ostream>
#include <string>

#include "animation_request.h"
#include "platform/file_system.h"

namespace cgi {

/// Seconds since 1970, the random players' seed.
using SeedClock = std::uint32_t (*)();
std::uint32_t clock_seconds();

/// The last frame of the unbroken run of existing frames `prefix` + n +
/// `extension` from `start` upward, at most 98; start - 1 when the start
/// frame is missing.
std::int32_t count_frames(platform::FileSystem& files,
                          const std::string& prefix,
                          const std::string& extension, std::int32_t start);
std::int32_t count_frames(const std::string& prefix,
                          const std::string& extension, std::int32_t start);

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
