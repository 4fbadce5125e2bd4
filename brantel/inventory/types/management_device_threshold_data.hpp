// Type 36: Management Device Threshold Data. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows MANAGEMENT_DEVICE_THRESHOLD_DATA_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
