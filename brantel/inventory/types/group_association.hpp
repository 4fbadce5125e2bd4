// Type 14: Group Associations. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows GROUP_ASSOCIATION_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
