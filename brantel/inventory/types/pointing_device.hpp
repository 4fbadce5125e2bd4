// Type 21: Built-in Pointing Device. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows POINTING_DEVICE_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
