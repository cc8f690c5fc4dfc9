// write_all.h: handing a whole buffer to a writer that may take only part
// of it per call, as write(2) does. The caller supplies the one call, so
// the loop stays portable.
#ifndef WHIRLO_TEXT_WRITE_ALL_H
#define WHIRLO_TEXT_WRITE_ALL_H

#include <cstddef>

namespace text {

/// Calls `write_some(data, size)` with what is left until every byte is
/// taken. `write_some` returns how many bytes it took, or a count of zero
/// or less when it failed; then false.
template <typename WriteSome>
bool write_all(const char* data, std::size_t size, WriteSome write_some) {
  while (size > 0) {
    auto taken = write_some(data, size);
    if (taken <= 0) return false;
    data += taken;
    size -= static_cast<std::size_t>(taken);
  }
  return true;
}

}  // namespace text

#endif  // WHIRLO_TEXT_WRITE_ALL_H
