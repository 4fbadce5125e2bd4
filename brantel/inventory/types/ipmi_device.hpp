// Type 38: IPMI Device Information. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows IPMI_DEVICE_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
