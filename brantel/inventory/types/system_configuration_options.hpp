// Type 12: System Configuration Options.
#pragma once

#include "../decoded_fields.hpp"
#include "record_lists.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row SYSTEM_CONFIGURATION_OPTIONS_FIELDS[] = {
    integer("count", "Count", 0x04, 1),
    custom("strings", "Option", 0x04, 1, counted_strings, Shape::TextList),
};
inline constexpr TypeRows SYSTEM_CONFIGURATION_OPTIONS_ROWS = rows(SYSTEM_CONFIGURATION_OPTIONS_FIELDS);

}  // namespace brantel::inventory::decoded
