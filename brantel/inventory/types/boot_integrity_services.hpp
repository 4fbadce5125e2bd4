// Type 31: Boot Integrity Services (BIS) Entry Point. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows BOOT_INTEGRITY_SERVICES_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
