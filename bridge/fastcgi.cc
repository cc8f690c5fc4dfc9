#include "fastcgi.h"

#include <algorithm>

namespace bridge {
namespace fcgi {
namespace {

constexpr unsigned char VERSION = 1;
constexpr std::size_t HEADER_SIZE = 8;
constexpr std::size_t MAX_CONTENT = 65535;
constexpr unsigned RESPONDER = 1;
constexpr unsigned char KEEP_CONN = 1;

void append_record(std::string& out, unsigned char type, unsigned id,
                   std::string_view content) {
  const std::size_t padding = (8 - content.size() % 8) % 8;
  const char header[HEADER_SIZE] = {
      static_cast<char>(VERSION),
      static_cast<char>(type),
      static_cast<char>((id >> 8) & 0xff),
      static_cast<char>(id & 0xff),
      static_cast<char>((content.size() >> 8) & 0xff),
      static_cast<char>(content.size() & 0xff),
      static_cast<char>(padding),
      0};
  out.append(header, HEADER_SIZE);
  out.append(content.data(), content.size());
  out.append(padding, '\0');
}

unsigned byte(std::string_view bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]);
}

void append_length(std::string& out, std::size_t length) {
  if (length < 0x80) {
    out += static_cast<char>(length);
    return;
  }
  out += static_cast<char>(((length >> 24) & 0x7f) | 0x80);
  out += static_cast<char>((length >> 16) & 0xff);
  out += static_cast<char>((length >> 8) & 0xff);
  out += static_cast<char>(length & 0xff);
}

// One length of a pair: a byte below 128, or four bytes with the top bit set.
bool read_length(std::string_view bytes, std::size_t& at, std::size_t& length) {
  if (at >= bytes.size()) return false;
  if (byte(bytes, at) < 0x80) {
    length = byte(bytes, at++);
    return true;
  }
  if (bytes.size() - at < 4) return false;
  length = (std::size_t{byte(bytes, at) & 0x7f} << 24) |
           (byte(bytes, at + 1) << 16) | (byte(bytes, at + 2) << 8) |
           byte(bytes, at + 3);
  at += 4;
  return true;
}

// The variables a server may ask for, and what we answer.
std::string value_of(std::string_view name, const Connection::Limits& limits) {
  if (name == "FCGI_MAX_CONNS" || name == "FCGI_MAX_REQS")
    return std::to_string(limits.max_requests);
  if (name == "FCGI_MPXS_CONNS") return "1";
  return std::string();
}

bool from_server(unsigned char type) {
  return type == PARAMS || type == STDIN || type == DATA ||
         type == ABORT_REQUEST;
}

}  // namespace

void append_stream(std::string& out, unsigned char type, unsigned request_id,
                   std::string_view data) {
  do {
    std::string_view chunk = data.substr(0, MAX_CONTENT);
    append_record(out, type, request_id, chunk);
    data.remove_prefix(chunk.size());
  } while (!data.empty());
}

void append_end_request(std::string& out, unsigned request_id,
                        std::uint32_t app_status,
                        unsigned char protocol_status) {
  const char body[8] = {static_cast<char>((app_status >> 24) & 0xff),
                        static_cast<char>((app_status >> 16) & 0xff),
                        static_cast<char>((app_status >> 8) & 0xff),
                        static_cast<char>(app_status & 0xff),
                        static_cast<char>(protocol_status),
                        0,
                        0,
                        0};
  append_record(out, END_REQUEST, request_id,
                std::string_view(body, sizeof body));
}

void append_pair(std::string& out, std::string_view name,
                 std::string_view value) {
  append_length(out, name.size());
  append_length(out, value.size());
  out.append(name.data(), name.size());
  out.append(value.data(), value.size());
}

bool parse_params(std::string_view bytes, Params& out) {
  out.clear();
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t name = 0, value = 0;
    if (!read_length(bytes, at, name) || !read_length(bytes, at, value))
      return false;
    if (name > bytes.size() - at || value > bytes.size() - at - name)
      return false;
    out.emplace_back(std::string(bytes.substr(at, name)),
                     std::string(bytes.substr(at + name, value)));
    at += name + value;
  }
  return true;
}

// Records are taken straight from `data` while none is left over from an
// earlier call; only the tail of an incomplete record is kept.
bool Connection::feed(const char* data, std::size_t size, Listener& listener) {
  if (failed_) return false;
  const bool buffered = !pending_.empty();
  if (buffered) pending_.append(data, size);
  const std::string_view bytes =
      buffered ? std::string_view(pending_) : std::string_view(data, size);
  std::size_t at = 0;
  bool ok = true;
  while (ok && bytes.size() - at >= HEADER_SIZE) {
    std::string_view header = bytes.substr(at, HEADER_SIZE);
    if (byte(header, 0) != VERSION) {
      ok = false;
      break;
    }
    const std::size_t length = byte(header, 4) << 8 | byte(header, 5);
    const std::size_t total = HEADER_SIZE + length + byte(header, 6);
    if (bytes.size() - at < total) break;
    ok = handle(static_cast<unsigned char>(byte(header, 1)),
                byte(header, 2) << 8 | byte(header, 3),
                bytes.substr(at + HEADER_SIZE, length), listener);
    at += total;
  }
  if (!ok) {
    failed_ = true;
    pending_ = std::string();
    for (auto& entry : requests_) release(entry.second);
    requests_.clear();
    return false;
  }
  if (buffered) {
    pending_.erase(0, at);
  } else {
    pending_.assign(bytes.substr(at));
  }
  return true;
}

Connection::~Connection() {
  for (auto& entry : requests_) release(entry.second);
}

// The params a request has passed on stay charged until it ends: the
// server holds them for as long.
void Connection::release(Request& request) {
  if (limits_.budget) limits_.budget->used -= request.charged;
  request.charged = 0;
}

std::uint64_t Connection::oldest_incomplete() const {
  std::uint64_t oldest = UINT64_MAX;
  for (const auto& entry : requests_) {
    Stage stage = entry.second.stage;
    if (stage == Stage::PARAMS || stage == Stage::STDIN)
      oldest = std::min(oldest, entry.second.since);
  }
  return oldest;
}

void Connection::finished(unsigned id) {
  auto it = requests_.find(id);
  if (it == requests_.end()) return;
  if (it->second.stage != Stage::REFUSED) --active_;
  release(it->second);
  requests_.erase(it);
}

bool Connection::keep_connection(unsigned id) const {
  auto it = requests_.find(id);
  return it != requests_.end() && it->second.keep;
}

// The listener may end the request during a call, so nothing touches the
// request after calling it.
bool Connection::handle(unsigned char type, unsigned id,
                        std::string_view content, Listener& listener) {
  if (id == 0) return handle_management(type, content);
  if (type == BEGIN_REQUEST) return begin(id, content);
  if (type < BEGIN_REQUEST || type > UNKNOWN_TYPE) {
    reply_unknown_type(type);
    return true;
  }
  auto it = requests_.find(id);
  if (it == requests_.end()) {
    // What the server sent before it saw our END_REQUEST.
    return type == STDIN || type == DATA || type == ABORT_REQUEST;
  }
  Request& request = it->second;
  if (request.stage == Stage::REFUSED || request.stage == Stage::ABORTED)
    return from_server(type);
  switch (type) {
    case PARAMS: return params(id, request, content, listener);
    case STDIN: return input(id, request, content, listener);
    case DATA: return true;  // a responder has no data stream
    case ABORT_REQUEST: abort(id, request, listener); return true;
    default: return false;  // a record only an application sends
  }
}

bool Connection::handle_management(unsigned char type,
                                   std::string_view content) {
  if (type != GET_VALUES) {
    reply_unknown_type(type);
    return true;
  }
  Params asked;
  if (!parse_params(content, asked)) return false;
  std::string result;
  std::vector<std::string> answered;
  for (const auto& pair : asked) {
    std::string value = value_of(pair.first, limits_);
    if (value.empty()) continue;
    bool again = false;
    for (const std::string& name : answered)
      again = again || name == pair.first;
    if (again) continue;  // keeps the answer within one record
    answered.push_back(pair.first);
    append_pair(result, pair.first, value);
  }
  append_stream(replies_, GET_VALUES_RESULT, 0, result);
  return true;
}

bool Connection::begin(unsigned id, std::string_view content) {
  if (content.size() < 8) return false;
  auto it = requests_.find(id);
  if (it != requests_.end() && it->second.stage != Stage::REFUSED) return false;
  const unsigned role = byte(content, 0) << 8 | byte(content, 1);
  const bool keep = (byte(content, 2) & KEEP_CONN) != 0;
  if (role != RESPONDER) {
    refuse(id, keep, UNKNOWN_ROLE);
  } else if (active_ >= limits_.max_requests) {
    refuse(id, keep, OVERLOADED);
  } else {
    Request& request = requests_[id];
    release(request);
    request = Request();
    request.keep = keep;
    request.since = now_;
    ++active_;
  }
  return true;
}

bool Connection::params(unsigned id, Request& request, std::string_view content,
                        Listener& listener) {
  if (request.stage != Stage::PARAMS) return false;
  if (!content.empty()) {
    if (content.size() > limits_.max_params_bytes - request.params.size())
      return false;
    Limits::Budget* budget = limits_.budget;
    if (budget && content.size() > budget->max - budget->used) {
      const bool keep = request.keep;
      --active_;
      refuse(id, keep, OVERLOADED);
      return true;
    }
    if (budget) budget->used += content.size();
    request.charged += content.size();
    request.params.append(content.data(), content.size());
    return true;
  }
  Params params;
  if (!parse_params(request.params, params)) return false;
  request.params = std::string();
  request.stage = Stage::STDIN;
  listener.on_request(id, std::move(params));
  return true;
}

bool Connection::input(unsigned id, Request& request, std::string_view content,
                       Listener& listener) {
  if (request.stage != Stage::STDIN) return false;
  if (content.empty()) request.stage = Stage::RUNNING;
  listener.on_stdin(id, content);
  return true;
}

// Before on_request the listener knows nothing of the request, so the
// connection ends it here.
void Connection::abort(unsigned id, Request& request, Listener& listener) {
  if (request.stage != Stage::PARAMS) {
    request.stage = Stage::ABORTED;
    listener.on_abort(id);
    return;
  }
  const bool keep = request.keep;
  finished(id);
  append_end_request(replies_, id, 0, REQUEST_COMPLETE);
  if (!keep) close_after_replies_ = true;
}

void Connection::refuse(unsigned id, bool keep, unsigned char status) {
  Request& request = requests_[id];
  release(request);
  request = Request();
  request.stage = Stage::REFUSED;
  request.keep = keep;
  append_end_request(replies_, id, 0, status);
  if (!keep) close_after_replies_ = true;
}

void Connection::reply_unknown_type(unsigned char type) {
  const char body[8] = {static_cast<char>(type), 0, 0, 0, 0, 0, 0, 0};
  append_record(replies_, UNKNOWN_TYPE, 0, std::string_view(body, sizeof body));
}

}  // namespace fcgi
}  // namespace bridge
