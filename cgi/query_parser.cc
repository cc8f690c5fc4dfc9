#include "query_parser.h"

#include <utility>

#include "messages.h"
#include "text/ascii.h"

namespace cgi {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void set_demonstration(AnimationRequest& request) {
  request.base_name = "Whirlo";
  request.frame_extension = ".GIF";
  request.start_frame = 1;
  request.end_frame = 13;
  request.still_extension = ".GIF";
  request.still_name = "Whirlo8";
  request.steps[0] = STEP_UP;
  request.steps[1] = STEP_END;
}

// The frame extension named by the four characters after the first "?".
const char* frame_extension(const std::string& query, std::size_t mark) {
  std::string window = query.substr(mark + 1, 4);
  for (const char* known : {".JPG", ".TIF", ".GIF"}) {
    if (window == known) return known;
  }
  return nullptr;
}

// A picture name of a P or N command: up to 12 characters, the name ending
// at ".", "?" or the end; an extension only where a "." ended it.
NamedPicture picture_name(const std::string& query, std::size_t pos) {
  std::string window = query.substr(pos, 12);
  std::size_t stop = window.find_first_of(".?");
  NamedPicture picture;
  picture.name = window.substr(0, stop);
  if (stop != std::string::npos && window[stop] == '.') {
    picture.extension = window.substr(stop, 4);
  } else {
    picture.extension = ".GIF";
  }
  return picture;
}

class CommandParser {
 public:
  CommandParser(AnimationRequest& request, const std::string& query,
                std::ostream& errors)
      : request_(request), query_(query), errors_(errors) {}

  void run(std::size_t pos) {
    while (pos < query_.size() && step_ < MAX_STEPS) {
      std::size_t resume = pos + 1;
      if (!command(pos, resume)) return;
      pos = next_command(resume);
    }
  }

 private:
  // Acts on the command at `letter`; false when parsing ends there.
  bool command(std::size_t letter, std::size_t& resume) {
    switch (query_[letter]) {
      case 'U': add_step(STEP_UP); return true;
      case 'D': add_step(STEP_DOWN); return true;
      case 'R': add_step(STEP_RANDOM_RUN); return true;
      case 'O': add_step(STEP_RANDOM_FRAME); return true;
      case 'S':
        set_if_number(request_.start_frame, argument(letter, 6));
        return true;
      case 'E':
        set_if_number(request_.end_frame, argument(letter, 4));
        return true;
      case 'L':
        resume = argument(letter, 5);
        repeat(resume);
        return true;
      case 'P': resume = argument(letter, 5); return picture(resume);
      case 'N':
        resume = argument(letter, 7);
        still(resume);
        return true;
      case 'W': resume = argument(letter, 5); return true;
      default: write_error(errors_, BAD_COMMAND); return true;
    }
  }

  // The skip counts characters blindly, stopping only at the end.
  std::size_t argument(std::size_t letter, std::size_t skip) const {
    return std::min(letter + skip, query_.size());
  }

  // The first position at or after `pos` that follows a "?".
  std::size_t next_command(std::size_t pos) const {
    while (pos < query_.size() && query_[pos - 1] != '?') ++pos;
    return pos;
  }

  void add_step(std::int32_t code) { request_.steps[step_++] = code; }

  void set_if_number(std::int32_t& field, std::size_t pos) {
    int number = read_number(query_, pos);
    if (number != NO_NUMBER) field = number;
  }

  // A count before any step command leaves the default ascending run in
  // entry 0 and lands in entry 1.
  void repeat(std::size_t pos) {
    if (step_ == 0) step_ = 1;
    int number = read_number(query_, pos);
    if (number != NO_NUMBER) add_step(number);
  }

  bool picture(std::size_t pos) {
    int number = read_number(query_, pos);
    if (number != NO_NUMBER) {
      add_step(STEP_FRAME_BASE + number);
      return true;
    }
    if (pos == query_.size()) return false;
    request_.named_pictures[named_] =
        std::make_unique<NamedPicture>(picture_name(query_, pos));
    add_step(STEP_NAMED_BASE + named_++);
    return true;
  }

  void still(std::size_t pos) {
    int number = read_number(query_, pos);
    if (number != NO_NUMBER) {
      request_.still_name = request_.base_name + std::to_string(number);
      request_.still_extension = request_.frame_extension;
      return;
    }
    NamedPicture picture = picture_name(query_, pos);
    request_.still_name = picture.name;
    request_.still_extension = picture.extension;
  }

  AnimationRequest& request_;
  const std::string& query_;
  std::ostream& errors_;
  int step_ = 0;
  int named_ = 0;
};

}  // namespace

int read_number(const std::string& text, std::size_t pos) {
  if (pos >= text.size()) return NO_NUMBER;
  char a = text[pos];
  char b = pos + 1 < text.size() ? text[pos + 1] : '\0';
  if (is_digit(a) && is_digit(b)) return (a - '0') * 10 + (b - '0');
  if (is_digit(b)) return b - '0';
  if (is_digit(a)) return a - '0';
  return NO_NUMBER;
}

int parse_query(AnimationRequest& request, std::string& query,
                std::ostream& errors) {
  query.resize(query.find('\0') == std::string::npos ? query.size()
                                                     : query.find('\0'));
  query = text::upper_case(std::move(query));
  if (query.empty()) {
    set_demonstration(request);
    return 0;
  }
  std::size_t mark = query.find('?');
  request.base_name = query.substr(0, mark);
  request.frame_extension = ".GIF";
  std::size_t commands = std::string::npos;
  if (mark != std::string::npos) {
    const char* extension = frame_extension(query, mark);
    if (!extension) {
      write_error(errors, BAD_EXTENSION);
      query.resize(mark);
      return BAD_EXTENSION;
    }
    request.frame_extension = extension;
    std::size_t field_end = query.find('?', mark + 1);
    if (field_end != std::string::npos) commands = field_end + 1;
  }
  request.still_name = request.base_name + "1";
  request.still_extension = request.frame_extension;
  request.end_frame = -1;
  if (commands != std::string::npos) {
    CommandParser(request, query, errors).run(commands);
  }
  if (mark != std::string::npos) query.resize(mark);
  return 0;
}

}  // namespace cgi
