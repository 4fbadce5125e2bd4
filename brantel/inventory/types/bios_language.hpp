// Type 13: BIOS Language Information.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

// The installable languages are the string set; the count byte at 0x04 says
// how many there should be.
inline constexpr Row BIOS_LANGUAGE_FIELDS[] = {
    string_list("installable_languages", "Installable Languages"),
    flag("abbreviated_format", "Flags", 0x05, 1, 0x01),
    string("current_language", "Current Language", 0x15),
};
inline constexpr TypeRows BIOS_LANGUAGE_ROWS = rows(BIOS_LANGUAGE_FIELDS);

}  // namespace brantel::inventory::decoded
