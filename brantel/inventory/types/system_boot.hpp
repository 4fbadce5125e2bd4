// Type 32: System Boot Information. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows SYSTEM_BOOT_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
