// Context ids and their hash, through which jumps and |CONTEXT meet.
#ifndef WHIRLO_TOOLS_HELPC_CONTEXT_HASH_H
#define WHIRLO_TOOLS_HELPC_CONTEXT_HASH_H

#include <cstdint>
#include <string>

namespace helpc {

// Letters, digits, '.' and '_' only: other characters do not hash.
bool is_valid_context_id(const std::string& id);
int32_t context_hash(const std::string& id);

}  // namespace helpc

#endif  // WHIRLO_TOOLS_HELPC_CONTEXT_HASH_H
