// Type 15: System Event Log. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows SYSTEM_EVENT_LOG_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
