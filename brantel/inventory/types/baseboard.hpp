// Type 2: Baseboard (or Module) Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/baseboard.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row BASEBOARD_FIELDS[] = {
    string("manufacturer", "Manufacturer", 0x04),
    string("product", "Product Name", 0x05),
    string("version", "Version", 0x06),
    string("serial_number", "Serial Number", 0x07),
    string("asset_tag", "Asset Tag", 0x08),
    enumeration("type", "Type", 0x0D, 1, BOARD_TYPES),
};
inline constexpr TypeRows BASEBOARD_ROWS = rows(BASEBOARD_FIELDS);

}  // namespace brantel::inventory::decoded
