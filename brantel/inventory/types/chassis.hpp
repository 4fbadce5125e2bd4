// Type 3: System Enclosure or Chassis.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/baseboard.hpp"
#include "../names/chassis.hpp"
#include "../names/structure_types.hpp"

namespace brantel::inventory::decoded {

// A contained element's type byte: bit 7 set, a structure type (bits 6:0);
// clear, a board type.
inline PyObject* contained_element_type(Reader& reader, const Structure& s, const Row&) {
    const std::uint8_t code = s.bytes[reader.at()];
    return code & 0x80 ? reader.name(STRUCTURE_TYPES, code & 0x7F) : reader.name(BOARD_TYPES, code);
}

// One contained element: its type, and the least and most of it the chassis holds.
inline constexpr Row CHASSIS_ELEMENT_FIELDS[] = {
    custom("type", "Contained Element Type", 0x00, 1, contained_element_type, Shape::Text),
    integer("minimum", "Contained Element Minimum", 0x01, 1),
    integer("maximum", "Contained Element Maximum", 0x02, 1),
};

inline constexpr Row CHASSIS_FIELDS[] = {
    string("manufacturer", "Manufacturer", 0x04),
    enumeration("type", "Type", 0x05, 1, CHASSIS_TYPES).masked(0x7F),  // bit 7: chassis lock
    string("version", "Version", 0x06),
    string("serial_number", "Serial Number", 0x07),
    string("asset_tag", "Asset Tag", 0x08),
    string("sku", "SKU Number", 0x15).after_items(),
    flag("lock_present", "Lock", 0x05, 1, 0x80),
    enumeration("boot_up_state", "Boot-up State", 0x09, 1, CHASSIS_STATES),
    enumeration("power_supply_state", "Power Supply State", 0x0A, 1, CHASSIS_STATES),
    enumeration("thermal_state", "Thermal State", 0x0B, 1, CHASSIS_STATES),
    enumeration("security_status", "Security Status", 0x0C, 1, CHASSIS_SECURITY_STATUSES),
    integer("oem_defined", "OEM Information", 0x0D, 4),
    integer("height_u", "Height", 0x11, 1).unknown(0),  // in rack units (1.75 in); 0: unspecified
    integer("number_of_power_cords", "Number Of Power Cords", 0x12, 1).unknown(0),
    integer("contained_element_count", "Contained Elements", 0x13, 1),
    integer("contained_element_record_length", nullptr, 0x14, 1),
};
// n contained elements of m bytes from 0x15 (n at 0x13, m at 0x14); the SKU follows them.
inline constexpr Items CHASSIS_ITEMS =
    items("contained_elements", "Contained Elements", 0x15, 0x13, 0x14, 3, CHASSIS_ELEMENT_FIELDS);
inline constexpr TypeRows CHASSIS_ROWS = rows(CHASSIS_FIELDS, &CHASSIS_ITEMS);

}  // namespace brantel::inventory::decoded
