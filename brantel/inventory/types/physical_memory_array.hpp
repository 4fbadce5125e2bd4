// Type 16: Physical Memory Array. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows PHYSICAL_MEMORY_ARRAY_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
