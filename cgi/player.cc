#include "player.h"

#include <ctime>
#include <utility>

#include "messages.h"
#include "picture_path.h"
#include "picture_stream.h"
#include "text/product.h"

namespace cgi {
namespace {

constexpr std::int32_t LAST_COUNTED_FRAME = 99;

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

Playback::Playback(platform::FileSystem& files, AnimationRequest& request,
                   SeedClock clock)
    : files_(files), request_(request), clock_(std::move(clock)) {}

int Playback::begin(std::ostream& out, std::ostream& errors) {
  mode_ = Mode::DONE;
  out << "HTTP/1.0 200 OK\n";
  if (request_.end_frame == -1)
    request_.end_frame = counted_end(files_, request_);
  if (request_.start_frame >= request_.end_frame) {
    write_error_page(out);
    write_error(errors, NO_PICTURES);
    return NO_PICTURES;
  }
  if (!request_.animates) {
    mode_ = Mode::STILL;
    return 0;
  }
  if (!single_picture(request_)) {
    out << "Content-type: " WHIRLO_PUSH_TYPE "\n" WHIRLO_PART_END;
  }
  mode_ = Mode::WALK;
  return 0;
}

bool Playback::next(std::string& path) {
  std::string name, extension;
  while (next_name(name, extension)) {
    if (picture_path(request_.animation_path, name, extension, path))
      return true;
  }
  return false;
}

void Playback::frame_name(std::int32_t n, std::string& name,
                          std::string& extension) {
  name = request_.base_name + std::to_string(n);
  extension = request_.frame_extension;
}

// The end frame itself is never drawn.
std::int32_t Playback::random_frame() {
  std::int32_t span = request_.end_frame - request_.start_frame;
  return request_.start_frame + random_.next() % span;
}

// The step table: a count of 1 to 9 counts itself down and walks the table
// again from its start; at 0 (the end) or a value that is no step (a count
// of 10 or more) the walk ends.
bool Playback::next_name(std::string& name, std::string& extension) {
  if (mode_ == Mode::STILL) {
    mode_ = Mode::DONE;
    name = request_.still_name;
    extension = request_.still_extension;
    return true;
  }
  if (mode_ != Mode::WALK) return false;
  for (;;) {
    switch (run_) {
      case Run::UP:
        if (frame_ <= request_.end_frame) {
          frame_name(frame_++, name, extension);
          return true;
        }
        break;
      case Run::DOWN:
        if (frame_ >= request_.start_frame) {
          frame_name(frame_--, name, extension);
          return true;
        }
        break;
      case Run::RANDOM:
        if (left_ > 0) {
          --left_;
          frame_name(random_frame(), name, extension);
          return true;
        }
        break;
      case Run::NONE: break;
    }
    if (run_ != Run::NONE) {
      run_ = Run::NONE;
      ++entry_;
    }
    std::int32_t v = request_.steps[entry_];
    if (v >= 1 && v <= 9) {
      request_.steps[entry_] = v - 1;
      entry_ = 0;
      continue;
    }
    switch (v) {
      case STEP_END: mode_ = Mode::DONE; return false;
      case STEP_UP:
        run_ = Run::UP;
        frame_ = request_.start_frame;
        continue;
      case STEP_DOWN:
        run_ = Run::DOWN;
        frame_ = request_.end_frame;
        continue;
      case STEP_RANDOM_RUN:
        random_.seed(clock_());
        run_ = Run::RANDOM;
        left_ = request_.end_frame - request_.start_frame + 1;
        continue;
      case STEP_RANDOM_FRAME:
        random_.seed(clock_());
        ++entry_;
        frame_name(random_frame(), name, extension);
        return true;
      default: break;
    }
    ++entry_;
    if (v >= STEP_FRAME_BASE && v < STEP_FRAME_BASE + 100) {
      frame_name(v - STEP_FRAME_BASE, name, extension);
      return true;
    }
    if (v >= STEP_NAMED_BASE && v < STEP_NAMED_BASE + MAX_STEPS) {
      if (const NamedPicture* named =
              request_.named_pictures[v - STEP_NAMED_BASE].get()) {
        name = named->name;
        extension = named->extension;
        return true;
      }
      continue;
    }
    mode_ = Mode::DONE;
    return false;
  }
}

int play_request(platform::FileSystem& files, AnimationRequest& request,
                 std::ostream& out, std::ostream& errors, SeedClock clock) {
  Playback playback(files, request, std::move(clock));
  if (int result = playback.begin(out, errors)) return result;
  std::string path;
  while (playback.next(path)) {
    PictureStream picture(files, path);
    out << picture;
  }
  return 0;
}

}  // namespace cgi
