// Type 1: System Information. The first one is the machine's (`system`); a
// later one is a generic record in other_structures.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/system.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row SYSTEM_FIELDS[] = {
    string("manufacturer", "Manufacturer", 0x04),
    string("product", "Product Name", 0x05),
    string("version", "Version", 0x06),
    string("serial_number", "Serial Number", 0x07),
    uuid("uuid", "UUID", 0x08),
    hex("uuid_stored", nullptr, 0x08, 16),  // the bytes as stored, whatever the version
    enumeration("wake_up_type", "Wake-up Type", 0x18, 1, WAKE_UP_TYPES),
    string("sku", "SKU Number", 0x19),
    string("family", "Family", 0x1A),
};
inline constexpr TypeRows SYSTEM_ROWS = rows(SYSTEM_FIELDS);

}  // namespace brantel::inventory::decoded
