// Type 44: Processor Additional Information. Not decoded yet: its structures are generic records in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr TypeRows PROCESSOR_ADDITIONAL_INFORMATION_ROWS = NOT_DECODED;

}  // namespace brantel::inventory::decoded
