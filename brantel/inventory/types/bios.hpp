// Type 0: BIOS Information. The first one is the machine's (`bios`); a later
// one is a generic record in other_structures.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row BIOS_FIELDS[] = {
    string("vendor", "Vendor", 0x04),
    string("version", "Version", 0x05),
    string("release_date", "Release Date", 0x08),
};
inline constexpr TypeRows BIOS_ROWS = rows(BIOS_FIELDS);

}  // namespace brantel::inventory::decoded
