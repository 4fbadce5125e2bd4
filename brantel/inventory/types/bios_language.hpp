// Type 13: BIOS Language Information. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows BIOS_LANGUAGE_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
