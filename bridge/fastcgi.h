// fastcgi.h: the FastCGI record layer of the bridge's long-running mode
// (responder role). Bytes from the web server go in, calls to a Listener
// come out; records for the server are appended to strings. No I/O, so one
// event loop can drive many connections, requests and children at once.
#ifndef WHIRLO_BRIDGE_FASTCGI_H
#define WHIRLO_BRIDGE_FASTCGI_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bridge {
namespace fcgi {

enum RecordType : unsigned char {
  BEGIN_REQUEST = 1,
  ABORT_REQUEST,
  END_REQUEST,
  PARAMS,
  STDIN,
  STDOUT,
  STDERR,
  DATA,
  GET_VALUES,
  GET_VALUES_RESULT,
  UNKNOWN_TYPE
};
enum ProtocolStatus : unsigned char {
  REQUEST_COMPLETE = 0,
  CANT_MPX_CONN = 1,
  OVERLOADED = 2,
  UNKNOWN_ROLE = 3
};

using Params = std::vector<std::pair<std::string, std::string>>;

/// Appends records of `type` for `request_id` carrying `data` (split into
/// records of at most 65535 content bytes; padded to a multiple of 8).
/// Empty `data` appends one empty record (the end of a stream).
void append_stream(std::string& out, unsigned char type, unsigned request_id,
                   std::string_view data);

/// Appends an END_REQUEST record.
void append_end_request(std::string& out, unsigned request_id,
                        std::uint32_t app_status,
                        unsigned char protocol_status);

/// Appends one encoded name-value pair (the content of PARAMS and
/// GET_VALUES records).
void append_pair(std::string& out, std::string_view name,
                 std::string_view value);

/// Decodes name-value pairs; false when malformed (a length running past the
/// end).
bool parse_params(std::string_view bytes, Params& out);

/// What one connection's peer asked for; implemented by the server.
/// The calls may end requests (Connection::finished) but never feed.
class Listener {
 public:
  virtual ~Listener() = default;
  /// A responder request is complete up to its parameters (the PARAMS stream
  /// has ended).
  virtual void on_request(unsigned id, Params params) = 0;
  /// Request body bytes; an empty view = the STDIN stream has ended.
  virtual void on_stdin(unsigned id, std::string_view data) = 0;
  /// The server aborted the request (ABORT_REQUEST). Only for requests
  /// that had on_request; the connection ends earlier ones itself.
  virtual void on_abort(unsigned id) = 0;
};

/// The protocol state of one FastCGI connection: bytes in, calls to a
/// Listener, and reply bytes for what the connection answers itself
/// (GET_VALUES_RESULT, UNKNOWN_TYPE, END_REQUEST refusing a role other than
/// responder or a request over the limit). No I/O; never throws.
class Connection {
 public:
  struct Limits {
    std::size_t max_params_bytes = 64 * 1024;
    unsigned max_requests = 1000;
    // Params bytes held by every connection that shares it; a request
    // that would pass `max` is refused as OVERLOADED. None when null.
    struct Budget {
      std::uint64_t used = 0;
      std::uint64_t max = 0;
    }* budget = nullptr;
  };
  Connection() : Connection(Limits()) {}
  explicit Connection(Limits limits) : limits_(limits) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// The time, in the caller's milliseconds, that new requests are
  /// stamped with.
  void set_now(std::uint64_t ms) { now_ = ms; }

  /// The stamp of the oldest request whose params or body have not all
  /// arrived; UINT64_MAX when there is none.
  std::uint64_t oldest_incomplete() const;

  /// Consumes `size` bytes. False on a protocol error (bad version, PARAMS
  /// over the limit or malformed, a record for an unknown request id other
  /// than a stray STDIN/ABORT after the end, a BEGIN_REQUEST for an id in
  /// use, ...): the caller closes the connection (and the listener will get
  /// no more calls).
  bool feed(const char* data, std::size_t size, Listener& listener);

  /// Bytes the connection itself must send; the caller moves them out.
  std::string& replies() { return replies_; }

  /// True once the connection has ended a request itself (refused or
  /// aborted before on_request) that did not ask to keep the connection:
  /// close it after sending replies().
  bool close_after_replies() const { return close_after_replies_; }

  /// The caller has sent END_REQUEST for `id` (the id may be reused after).
  void finished(unsigned id);

  /// True when the peer asked to keep the connection after `id`'s
  /// END_REQUEST (FCGI_KEEP_CONN). Works until finished(id).
  bool keep_connection(unsigned id) const;

 private:
  // RUNNING: the body has ended; ABORTED: on_abort was called; REFUSED:
  // answered by the connection, later records are ignored.
  enum class Stage { PARAMS, STDIN, RUNNING, ABORTED, REFUSED };
  struct Request {
    Stage stage = Stage::PARAMS;
    bool keep = false;
    std::string params;
    std::uint64_t since = 0;    // set_now's time at BEGIN_REQUEST
    std::uint64_t charged = 0;  // params bytes counted in the budget
  };

  bool handle(unsigned char type, unsigned id, std::string_view content,
              Listener& listener);
  bool handle_management(unsigned char type, std::string_view content);
  bool begin(unsigned id, std::string_view content);
  bool params(unsigned id, Request& request, std::string_view content,
              Listener& listener);
  bool input(unsigned id, Request& request, std::string_view content,
             Listener& listener);
  void abort(unsigned id, Request& request, Listener& listener);
  void refuse(unsigned id, bool keep, unsigned char status);
  void reply_unknown_type(unsigned char type);
  void release(Request& request);

  Limits limits_;
  std::map<unsigned, Request> requests_;
  unsigned active_ = 0;  // requests_ not refused
  std::string pending_;  // bytes of an incomplete record
  std::string replies_;
  bool failed_ = false;
  bool close_after_replies_ = false;
  std::uint64_t now_ = 0;
};

}  // namespace fcgi
}  // namespace bridge

#endif  // WHIRLO_BRIDGE_FASTCGI_H
