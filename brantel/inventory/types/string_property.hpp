// Type 46: String Property. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows STRING_PROPERTY_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
