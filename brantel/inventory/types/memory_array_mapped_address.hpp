// Type 19: Memory Array Mapped Address. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows MEMORY_ARRAY_MAPPED_ADDRESS_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
