// output_relay.h: turns the bytes of a Windows CGI output file, as they
// arrive, into what the bridge sends on, and cuts a server-push body into
// pieces, one a part, so that they can be paced. Each piece carries the
// header block of the part after it. Body bytes are never changed.
#ifndef WHIRLO_BRIDGE_OUTPUT_RELAY_H
#define WHIRLO_BRIDGE_OUTPUT_RELAY_H

#include <cstddef>
#include <string>

namespace bridge {

/// Longest header block accepted from the program.
constexpr std::size_t MAX_HEADER_BYTES = 64 * 1024;

enum class Piece {
  NONE,    // nothing ready yet
  DATA,    // bytes to send now
  PART,    // one part, up to the header block of the next (paced)
  FAILED,  // the program's header cannot be relayed
};

class OutputRelay {
 public:
  /// `nph`: the bridge answers the client directly (a complete HTTP
  /// response) instead of giving CGI headers to the server.
  explicit OutputRelay(bool nph) : nph_(nph) {}

  void feed(const char* data, std::size_t size);

  /// No more bytes will come.
  void finish() { finished_ = true; }

  /// The next piece to send; fills `out` for DATA and PART.
  Piece next(std::string& out);

  /// Hands out every body byte held back, part boundary or not (DATA),
  /// for when too much has piled up; NONE when there is none.
  Piece take_all(std::string& out);

  /// Bytes held back so far.
  std::size_t buffered() const { return pending_.size() - start_; }

  /// True when everything fed has been handed out and no more will come.
  bool done() const { return finished_ && buffered() == 0; }

 private:
  enum Stage { HEADER, BODY, BROKEN };

  Piece take_header();
  Piece take_body(std::string& out);
  std::size_t part_end();
  void take_rest(std::string& out);

  bool nph_;
  bool finished_ = false;
  Stage stage_ = HEADER;
  std::string pending_;      // bytes held, from start_ on
  std::size_t start_ = 0;    // what lies before has been handed out
  std::string delimiter_;    // "\n--" + boundary of a multipart body
  std::size_t scanned_ = 0;  // where the delimiter search goes on
  bool in_parts_ = false;    // a part piece has been handed out
};

/// The header block the bridge sends for the program's header block
/// `header` (its lines up to and including the empty line, or all of a
/// file that has no empty line). False when it cannot be relayed.
bool convert_header(const std::string& header, bool nph, std::string& out);

/// The boundary of a multipart/x-mixed-replace header block, or "".
std::string push_boundary(const std::string& header);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_OUTPUT_RELAY_H
