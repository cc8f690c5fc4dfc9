#include "play_source.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <utility>

#include "cgi/picture_stream.h"
#include "text/product.h"

namespace fastcgi {

std::unique_ptr<cgi::AnimationRequest> copy_request(
    const cgi::AnimationRequest& request) {
  auto copy = std::make_unique<cgi::AnimationRequest>();
  copy->base_name = request.base_name;
  copy->animation_path = request.animation_path;
  copy->still_name = request.still_name;
  copy->still_extension = request.still_extension;
  copy->frame_extension = request.frame_extension;
  copy->start_frame = request.start_frame;
  copy->end_frame = request.end_frame;
  copy->animates = request.animates;
  copy->steps = request.steps;
  for (std::size_t i = 0; i < request.named_pictures.size(); ++i) {
    if (request.named_pictures[i])
      copy->named_pictures[i] =
          std::make_unique<cgi::NamedPicture>(*request.named_pictures[i]);
  }
  return copy;
}

PlaySource::PlaySource(platform::FileSystem& files,
                       std::unique_ptr<cgi::AnimationRequest> request,
                       std::uint32_t seed)
    : files_(files),
      request_(std::move(request)),
      seed_(seed),
      playback_(files_, *request_, [seed] { return seed; }) {}

int PlaySource::begin(std::ostream& errors) {
  std::ostringstream head;
  int result = playback_.begin(head, errors);
  text_ = head.str();
  at_ = 0;
  part_ends_ = true;  // the start is handed out on its own
  pushes_ = text_.find(WHIRLO_PART_END) != std::string::npos && result == 0;
  return result;
}

bool PlaySource::next_picture() {
  std::string path;
  while (playback_.next(path)) {
    cgi::PictureStream picture(files_, path);
    if (!picture.valid) continue;  // whirlo32 writes nothing for it
    text_ = picture.header_line() + "\n\n";
    at_ = 0;
    part_ends_ = false;
    picture_ = picture.take_reader();
    ++parts_;
    return true;
  }
  return false;
}

std::size_t PlaySource::read(char* block, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (at_ < text_.size()) {
      std::size_t count = std::min(size - done, text_.size() - at_);
      std::memcpy(block + done, text_.data() + at_, count);
      at_ += count;
      done += count;
      continue;
    }
    if (part_ends_) {  // a part is complete: the reader may cut it now
      part_ends_ = false;
      if (done > 0) return done;
    }
    if (picture_) {
      if (std::size_t got = picture_->read(block + done, size - done)) {
        done += got;
        continue;
      }
      picture_.reset();
      text_ = WHIRLO_PART_END;
      at_ = 0;
      part_ends_ = true;
      continue;
    }
    if (!next_picture()) break;
  }
  return done;
}

bool PlaySource::fits(std::uint64_t limit) const {
  PlaySource again(files_, copy_request(*request_), seed_);
  std::ostringstream ignored;
  again.begin(ignored);
  std::uint64_t total = 0;
  char block[32768];
  while (std::size_t got = again.read(block, sizeof block)) {
    total += got;
    if (total > limit) return false;
  }
  return true;
}

}  // namespace fastcgi
