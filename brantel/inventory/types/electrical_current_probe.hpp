// Type 29: Electrical Current Probe. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows ELECTRICAL_CURRENT_PROBE_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
