// Type 13: BIOS Language Information.
#pragma once

#include "../decoded_fields.hpp"
#include "record_lists.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row BIOS_LANGUAGE_FIELDS[] = {
    custom("installable_languages", "Installable Languages", 0x04, 1, counted_strings, Shape::TextList),
    flag("abbreviated_format", "Flags", 0x05, 1, 0x01),
    string("current_language", "Current Language", 0x15),
};
inline constexpr TypeRows BIOS_LANGUAGE_ROWS = rows(BIOS_LANGUAGE_FIELDS);

}  // namespace brantel::inventory::decoded
