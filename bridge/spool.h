// spool.h: the private folder that holds one run's data, content and
// output files. It and everything in it go when the Spool goes.
#ifndef WHIRLO_BRIDGE_SPOOL_H
#define WHIRLO_BRIDGE_SPOOL_H

#include <cstdint>
#include <cstdio>
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

enum class BodyResult { kOk, kMalformed, kTooLarge, kShort, kWriteFailed };

/// Copies the request body (`content_length` bytes, as CONTENT_LENGTH
/// gives it; none when empty) from `in` into a new file at `path`.
BodyResult spool_body(const std::string& content_length, std::uint64_t max_body,
                      std::FILE* in, const std::string& path,
                      std::uint64_t& length);

/// Writes `text` as the whole of a new file. False on any failure.
bool write_file(const std::string& path, const std::string& text);

}  // namespace bridge

#endif
