// Type 10: On Board Devices Information. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows ONBOARD_DEVICE_GROUP_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
