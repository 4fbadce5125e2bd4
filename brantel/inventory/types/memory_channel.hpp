// Type 37: Memory Channel. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows MEMORY_CHANNEL_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
