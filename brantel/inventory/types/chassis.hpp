// Type 3: System Enclosure or Chassis.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/chassis.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row CHASSIS_FIELDS[] = {
    string("manufacturer", "Manufacturer", 0x04),
    enumeration("type", "Type", 0x05, 1, CHASSIS_TYPES).masked(0x7F),  // bit 7: chassis lock
    string("version", "Version", 0x06),
    string("serial_number", "Serial Number", 0x07),
    string("asset_tag", "Asset Tag", 0x08),
    string("sku", "SKU Number", 0x15).after_items(),
};
// The SKU follows the n contained elements of m bytes (n at 0x13, m at 0x14).
inline constexpr Items CHASSIS_ITEMS = placement_items(0x15, 0x13, 0x14);
inline constexpr TypeRows CHASSIS_ROWS = rows(CHASSIS_FIELDS, &CHASSIS_ITEMS);

}  // namespace brantel::inventory::decoded
