// fuzz_support.h: helpers shared by the fuzz targets. A failed invariant
// aborts, so libFuzzer records the input as a crash.
#ifndef WHIRLO_FUZZ_FUZZ_SUPPORT_H
#define WHIRLO_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

[[noreturn]] void fail(const char* what, const std::string& detail = "");

inline void check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) fail(what, detail);
}

/// The next line of `rest` (without its LF); `rest` keeps what follows.
std::string take_line(std::string_view& rest);

/// A folder of its own under the system's temporary folder, removed when
/// the process ends normally.
const std::string& scratch_dir();

/// Writes `bytes` to `path`, replacing the file.
void write_file(const std::string& path, std::string_view bytes);

/// Printable form of a byte string for failure messages.
std::string escaped(std::string_view bytes);

}  // namespace fuzz

#endif  // WHIRLO_FUZZ_FUZZ_SUPPORT_H
