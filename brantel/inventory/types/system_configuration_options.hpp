// Type 12: System Configuration Options. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows SYSTEM_CONFIGURATION_OPTIONS_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
