// Type 11: OEM Strings.
#pragma once

#include "../decoded_fields.hpp"
#include "record_lists.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row OEM_STRINGS_FIELDS[] = {
    integer("count", "Count", 0x04, 1),
    custom("strings", "String", 0x04, 1, counted_strings, Shape::TextList),
};
inline constexpr TypeRows OEM_STRINGS_ROWS = rows(OEM_STRINGS_FIELDS);

}  // namespace brantel::inventory::decoded
