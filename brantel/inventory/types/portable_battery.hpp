// Type 22: Portable Battery. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows PORTABLE_BATTERY_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
