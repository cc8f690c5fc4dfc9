// spool.h: the private folder that holds one run's data, content and
// output files. It and everything in it go when the Spool goes.
#ifndef WHIRLO_BRIDGE_SPOOL_H
#define WHIRLO_BRIDGE_SPOOL_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "data_file.h"

namespace bridge {

class Spool {
 public:
  Spool() = default;
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  ~Spool();

  /// Makes the folder inside `root` and names the three files. False when
  /// the folder cannot be made or its path holds a blank or control byte
  /// (Windows CGI programs split their command line at blanks).
  bool create(const std::string& root);

  const SpoolFiles& files() const { return files_; }

 private:
  std::string folder_;
  SpoolFiles files_;
};

enum class BodyResult { OK, MALFORMED, TOO_LARGE, SHORT, WRITE_FAILED };

/// A request body arriving in pieces, copied into a new file.
class BodySpool {
 public:
  /// Creates the file at `path` for a body of `content_length` bytes (as
  /// CONTENT_LENGTH gives it; none when empty). With an empty `path` the
  /// bytes are only counted, for a run that reads no body.
  BodyResult begin(const std::string& content_length, std::uint64_t max_body,
                   const std::string& path);

  /// More body bytes; those past the announced length are dropped, as a
  /// CGI program would never read them.
  BodyResult add(const char* data, std::size_t size);

  /// No more bytes will come: SHORT when fewer than announced came.
  BodyResult end();

  /// Bytes still wanted.
  std::uint64_t missing() const { return wanted_ - length_; }
  std::uint64_t length() const { return length_; }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  bool counting_ = false;
  std::uint64_t wanted_ = 0;
  std::uint64_t length_ = 0;
};

/// Copies the request body (`content_length` bytes, as CONTENT_LENGTH
/// gives it; none when empty) from `in` into a new file at `path`.
BodyResult spool_body(const std::string& content_length, std::uint64_t max_body,
                      std::FILE* in, const std::string& path,
                      std::uint64_t& length);

/// Writes `text` as the whole of a new file. False on any failure.
bool write_file(const std::string& path, const std::string& text);

}  // namespace bridge

#endif  // WHIRLO_BRIDGE_SPOOL_H
