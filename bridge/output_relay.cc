#include "output_relay.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "text/ascii.h"

namespace bridge {
namespace {

constexpr char DIRECT_RETURN[] = "HTTP/1.0";
constexpr char CRLF[] = "\r\n";

std::string trim(const std::string& s) {
  return std::string(text::trim_blanks(s));
}

std::vector<std::string> header_lines(const std::string& header) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find('\n', start);
    if (end == std::string::npos) end = header.size();
    std::string line = header.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The end of the header block: just past its empty line, or npos. The
// CR LF form is looked for only before the first LF LF, so that a long
// body is not scanned to its end for every part.
std::size_t header_end(const std::string& bytes, std::size_t from = 0) {
  std::size_t lf = bytes.find("\n\n", from);
  std::string_view before(bytes.data(),
                          lf == std::string::npos ? bytes.size() : lf + 2);
  std::size_t crlf = before.find("\n\r\n", from);
  if (crlf != std::string::npos) return crlf + 3;
  return lf == std::string::npos ? std::string::npos : lf + 2;
}

bool is_status(const std::string& status) {
  return status.size() >= 3 &&
         std::isdigit(static_cast<unsigned char>(status[0])) &&
         std::isdigit(static_cast<unsigned char>(status[1])) &&
         std::isdigit(static_cast<unsigned char>(status[2])) &&
         (status.size() == 3 || status[3] == ' ');
}

bool has_control_byte(const std::string& line) {
  for (unsigned char c : line) {
    if ((c < 32 && c != '\t') || c == 127) return true;
  }
  return false;
}

}  // namespace

bool convert_header(const std::string& header, bool nph, std::string& out) {
  bool direct = header.compare(0, 8, DIRECT_RETURN) == 0;
  if (nph && direct) {
    out = header;
    return true;
  }
  std::vector<std::string> lines = header_lines(header);
  std::string status;
  std::size_t first = 0;
  if (direct) {
    status = trim(lines[0].substr(8));
    if (!is_status(status)) return false;
    first = 1;
  }
  std::string fields;
  bool redirect = false;
  for (std::size_t i = first; i < lines.size(); ++i) {
    std::size_t colon = lines[i].find(':');
    if (colon == std::string::npos || colon == 0 || has_control_byte(lines[i]))
      continue;  // not a header line: a CGI/1.1 server would refuse it
    std::string name = text::lower_case(trim(lines[i].substr(0, colon)));
    std::string value = trim(lines[i].substr(colon + 1));
    if (name == "status") {
      if (!direct) status = value;
      continue;
    }
    if (name == "uri" || name == "location") {
      redirect = true;
      if (name == "uri") {
        fields += "Location: " + value + CRLF;
        continue;
      }
    }
    fields += lines[i] + CRLF;
  }
  if (nph) {
    if (status.empty()) status = redirect ? "302 Found" : "200 OK";
    out = "HTTP/1.0 " + status + CRLF + fields + CRLF;
  } else {
    if (status.empty() && fields.empty()) status = "200 OK";
    out = (status.empty() ? "" : "Status: " + status + CRLF) + fields + CRLF;
  }
  return true;
}

std::string push_boundary(const std::string& header) {
  for (const std::string& line : header_lines(header)) {
    std::string folded = text::lower_case(line);
    if (folded.compare(0, 13, "content-type:") != 0) continue;
    if (trim(folded.substr(13)).compare(0, 25, "multipart/x-mixed-replace") !=
        0)
      return std::string();
    std::size_t at = folded.find("boundary=");
    if (at == std::string::npos) return std::string();
    std::string boundary = line.substr(at + 9);
    boundary = trim(boundary.substr(0, boundary.find(';')));
    if (boundary.size() >= 2 && boundary.front() == '"' &&
        boundary.back() == '"')
      boundary = boundary.substr(1, boundary.size() - 2);
    return boundary;
  }
  return std::string();
}

Piece OutputRelay::next(std::string& out) {
  if (stage_ == BROKEN) return Piece::FAILED;
  if (stage_ == HEADER) {
    Piece result = take_header();
    if (result != Piece::DATA) return result;
  }
  return take_body(out);
}

Piece OutputRelay::take_header() {
  std::size_t end = header_end(pending_);
  if (end == std::string::npos) {
    if (pending_.size() > MAX_HEADER_BYTES) {
      stage_ = BROKEN;
      return Piece::FAILED;
    }
    if (!finished_ || pending_.empty()) return Piece::NONE;
    end = pending_.size();
  }
  if (end > MAX_HEADER_BYTES + 3) {
    stage_ = BROKEN;
    return Piece::FAILED;
  }
  std::string header = pending_.substr(0, end);
  std::string converted;
  if (!convert_header(header, nph_, converted)) {
    stage_ = BROKEN;
    return Piece::FAILED;
  }
  std::string boundary = push_boundary(header);
  if (!boundary.empty()) delimiter_ = "\n--" + boundary;
  in_parts_ = false;
  pending_.replace(0, end, converted);  // in place: the body is not copied
  scanned_ = converted.size();
  stage_ = BODY;
  return Piece::DATA;
}

void OutputRelay::feed(const char* data, std::size_t size) {
  // Handed-out bytes are dropped once they are half of what is held, so
  // that cutting a long stream costs no more than reading it.
  if (start_ > 0 && start_ * 2 >= pending_.size()) {
    pending_.erase(0, start_);
    scanned_ -= std::min(scanned_, start_);
    start_ = 0;
  }
  pending_.append(data, size);
}

Piece OutputRelay::take_all(std::string& out) {
  if (stage_ != BODY || buffered() == 0) return Piece::NONE;
  take_rest(out);
  return Piece::DATA;
}

void OutputRelay::take_rest(std::string& out) {
  out.assign(pending_, start_, std::string::npos);
  pending_.clear();
  start_ = scanned_ = 0;
}

// A piece ends just past the header block of the part that follows the
// next delimiter line: browsers put a part on screen only once the next
// part's headers have arrived, so those travel with it. What follows the
// last delimiter's header block is the last part, sent when the file is
// complete.
Piece OutputRelay::take_body(std::string& out) {
  if (buffered() == 0) return Piece::NONE;
  if (!delimiter_.empty()) {
    std::size_t end = part_end();
    if (end != std::string::npos) {
      out.assign(pending_, start_, end - start_);
      start_ = scanned_ = end;
      in_parts_ = true;
      return Piece::PART;
    }
    if (!finished_) return Piece::NONE;
  }
  take_rest(out);
  return in_parts_ ? Piece::PART : Piece::DATA;
}

// Just past the empty line that ends the header block after the next
// delimiter line, or npos. Remembers how far the delimiter search got.
std::size_t OutputRelay::part_end() {
  std::size_t from = std::max(scanned_, start_);
  std::size_t at = pending_.find(delimiter_, from);
  if (at == std::string::npos) {
    std::size_t keep = delimiter_.size();
    if (pending_.size() > keep)
      scanned_ = std::max(from, pending_.size() - keep);
    return std::string::npos;
  }
  scanned_ = at;
  std::size_t line_end = pending_.find('\n', at + delimiter_.size());
  if (line_end == std::string::npos) return std::string::npos;
  return header_end(pending_, line_end);
}

}  // namespace bridge
