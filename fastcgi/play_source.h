// play_source.h: a response of whirlo32 made in the process as it is sent:
// the bytes whirlo32 would write into its output file for one request,
// handed out a part at a time, with each picture read from the file
// system as its part comes (a cached file's bytes are shared, not copied
// per viewer).
#ifndef WHIRLO_FASTCGI_PLAY_SOURCE_H
#define WHIRLO_FASTCGI_PLAY_SOURCE_H

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "cgi/animation_request.h"
#include "cgi/player.h"
#include "platform/file_system.h"
#include "stream.h"

namespace fastcgi {

class PlaySource : public bridge::OutputSource {
 public:
  /// Plays `request`; every random step is seeded with `seed`, as whirlo32
  /// seeds each with the current second while it writes the whole response
  /// at once.
  PlaySource(platform::FileSystem& files,
             std::unique_ptr<cgi::AnimationRequest> request,
             std::uint32_t seed);

  /// Makes the start of the response (status line, header block or error
  /// page). Returns 0, or 1005 with whirlo32's message written to `errors`.
  int begin(std::ostream& errors);

  /// The next bytes, up to the end of the start or of the part being made:
  /// a reader that asks again gets the next part.
  std::size_t read(char* block, std::size_t size) override;

  /// Whether the whole response (from begin on) is at most `limit` bytes:
  /// plays it once more without keeping a byte. Call before the first read.
  bool fits(std::uint64_t limit) const;

  /// Pictures played so far.
  std::uint64_t parts() const { return parts_; }
  /// True when the response is a push stream (a part boundary was
  /// written before the first picture).
  bool pushes() const { return pushes_; }

 private:
  bool next_picture();

  platform::FileSystem& files_;
  std::unique_ptr<cgi::AnimationRequest> request_;
  std::uint32_t seed_;
  cgi::Playback playback_;
  std::string text_;  // bytes to hand out before what follows
  std::size_t at_ = 0;
  bool part_ends_ = false;                         // text_ ends a part
  std::unique_ptr<platform::FileReader> picture_;  // its bytes, after text_
  std::uint64_t parts_ = 0;
  bool pushes_ = false;
};

/// A copy of `request` that plays the same.
std::unique_ptr<cgi::AnimationRequest> copy_request(
    const cgi::AnimationRequest& request);

}  // namespace fastcgi

#endif  // WHIRLO_FASTCGI_PLAY_SOURCE_H
