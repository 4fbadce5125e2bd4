// Type 35: Management Device Component. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows MANAGEMENT_DEVICE_COMPONENT_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
