#include "context_hash.h"

namespace helpc {

namespace {

unsigned char_code(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A' + 17;
  if (c >= 'a' && c <= 'z') return c - 'a' + 17;
  if (c >= '1' && c <= '9') return c - '0';
  if (c == '0') return 10;
  if (c == '.') return 12;
  if (c == '_') return 13;
  return 0;
}

}  // namespace

bool is_valid_context_id(const std::string& id) {
  if (id.empty()) return false;
  for (char c : id)
    if (char_code(c) == 0) return false;
  return true;
}

int32_t context_hash(const std::string& id) {
  uint32_t h = 0;  // wraps at 32 bits, as the viewer's does
  for (char c : id) h = h * 43 + char_code(c);
  return static_cast<int32_t>(h);
}

}  // namespace helpc
