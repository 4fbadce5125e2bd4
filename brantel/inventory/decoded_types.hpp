// The registry of structure types of the decoded inventory (decoded_types.cpp).
#pragma once

#include "decoded_fields.hpp"

namespace brantel::inventory::decoded {

// The last type number the reference defines; 126 (inactive) and 127 (end of
// table) and the types above are never decoded by rows.
inline constexpr unsigned LAST_DEFINED_TYPE = 46;

// The entry of a type 0-46, or nullptr.
const TypeEntry* type_entry(unsigned type) noexcept;
// Every entry, in type order.
const TypeEntry* registry_begin() noexcept;
const TypeEntry* registry_end() noexcept;

}  // namespace brantel::inventory::decoded
