#include "player.h"

#include <ctime>

#include "messages.h"
#include "picture_path.h"
#include "picture_stream.h"
#include "random_generator.h"
#include "text/product.h"

namespace cgi {
namespace {

constexpr std::int32_t LAST_COUNTED_FRAME = 99;

class Player {
 public:
  Player(platform::FileSystem& files, AnimationRequest& request,
         std::ostream& out, SeedClock clock)
      : files_(files), request_(request), out_(out), clock_(clock) {}

  void play_up() {
    for (std::int32_t n = request_.start_frame; n <= request_.end_frame; ++n) {
      play_frame(n);
    }
  }

  void play_down() {
    for (std::int32_t n = request_.end_frame; n >= request_.start_frame; --n) {
      play_frame(n);
    }
  }

  // The end frame itself is never drawn.
  void play_random_run() {
    random_.seed(clock_());
    std::int32_t count = request_.end_frame - request_.start_frame + 1;
    for (std::int32_t k = 0; k < count; ++k) play_frame(random_frame());
  }

  void play_random_frame() {
    random_.seed(clock_());
    play_frame(random_frame());
  }

  void play_frame(std::int32_t n) {
    play_picture(request_.base_name + std::to_string(n),
                 request_.frame_extension);
  }

  void play_picture(const std::string& name, const std::string& extension) {
    std::string path;
    if (!picture_path(request_.animation_path, name, extension, path)) return;
    PictureStream picture(files_, path);
    out_ << picture;
  }

  void walk() {
    std::size_t entry = 0;
    while (request_.steps[entry] != STEP_END) {
      std::int32_t v = request_.steps[entry];
      if (v >= 1 && v <= 9) {
        request_.steps[entry] = v - 1;
        entry = 0;
        continue;
      }
      if (!play_step(v)) return;
      ++entry;
    }
  }

 private:
  std::int32_t random_frame() {
    std::int32_t span = request_.end_frame - request_.start_frame;
    return request_.start_frame + random_.next() % span;
  }

  // False for a value that ends the walk (a count of 10 or more).
  bool play_step(std::int32_t v) {
    switch (v) {
      case STEP_UP: play_up(); return true;
      case STEP_DOWN: play_down(); return true;
      case STEP_RANDOM_RUN: play_random_run(); return true;
      case STEP_RANDOM_FRAME: play_random_frame(); return true;
      default: break;
    }
    if (v >= STEP_FRAME_BASE && v < STEP_FRAME_BASE + 100) {
      play_frame(v - STEP_FRAME_BASE);
      return true;
    }
    if (v >= STEP_NAMED_BASE && v < STEP_NAMED_BASE + MAX_STEPS) {
      if (const NamedPicture* named =
              request_.named_pictures[v - STEP_NAMED_BASE].get()) {
        play_picture(named->name, named->extension);
      }
      return true;
    }
    return false;
  }

  platform::FileSystem& files_;
  AnimationRequest& request_;
  std::ostream& out_;
  SeedClock clock_;
  RandomGenerator random_;
};

bool single_picture(const AnimationRequest& request) {
  std::int32_t first = request.steps[0];
  return (first == STEP_RANDOM_FRAME || first >= STEP_NAMED_BASE) &&
         request.steps[1] == STEP_END;
}

void write_error_page(std::ostream& out) {
  out << "Content-type: text/html\n\n"
         "<html><body>" WHIRLO_PRODUCT
         ", error : WHL1005 (cannot open "
         "picture files)</body></html>" WHIRLO_PART_END;
}

std::int32_t counted_end(platform::FileSystem& files,
                         const AnimationRequest& request) {
  // Frames of a base name that would leave the directory do not exist.
  if (!is_confined_name(request.base_name)) return request.start_frame - 1;
  return count_frames(files, request.animation_path + request.base_name,
                      request.frame_extension, request.start_frame);
}

}  // namespace

std::uint32_t clock_seconds() {
  return static_cast<std::uint32_t>(std::time(nullptr));
}

std::int32_t count_frames(platform::FileSystem& files,
                          const std::string& prefix,
                          const std::string& extension, std::int32_t start) {
  std::int32_t n = start;
  std::string path, actual;
  while (n < LAST_COUNTED_FRAME &&
         picture_path(prefix, std::to_string(n), extension, path) &&
         files.find(path, actual) != platform::EntryKind::MISSING) {
    ++n;
  }
  return n - 1;
}

std::int32_t count_frames(const std::string& prefix,
                          const std::string& extension, std::int32_t start) {
  return count_frames(platform::system_files(), prefix, extension, start);
}

int play_request(AnimationRequest& request, std::ostream& out,
                 std::ostream& errors, SeedClock clock) {
  return play_request(platform::system_files(), request, out, errors, clock);
}

int play_request(platform::FileSystem& files, AnimationRequest& request,
                 std::ostream& out, std::ostream& errors, SeedClock clock) {
  out << "HTTP/1.0 200 OK\n";
  if (request.end_frame == -1) request.end_frame = counted_end(files, request);
  if (request.start_frame >= request.end_frame) {
    write_error_page(out);
    write_error(errors, NO_PICTURES);
    return NO_PICTURES;
  }
  Player player(files, request, out, clock);
  if (!request.animates) {
    player.play_picture(request.still_name, request.still_extension);
    return 0;
  }
  if (!single_picture(request)) {
    out << "Content-type: " WHIRLO_PUSH_TYPE "\n" WHIRLO_PART_END;
  }
  player.walk();
  return 0;
}

}  // namespace cgi
