// Type 30: Out-of-Band Remote Access. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows OUT_OF_BAND_REMOTE_ACCESS_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
