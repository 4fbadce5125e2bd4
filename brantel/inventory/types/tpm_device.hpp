// Type 43: TPM Device. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows TPM_DEVICE_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
