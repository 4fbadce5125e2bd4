// Type 42: Management Controller Host Interface. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows MANAGEMENT_CONTROLLER_HOST_INTERFACE_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
