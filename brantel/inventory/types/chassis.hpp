// Type 3: System Enclosure or Chassis.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/baseboard.hpp"
#include "../names/chassis.hpp"
#include "../names/structure_types.hpp"

namespace brantel::inventory::decoded {

// Contained elements: n records of m bytes from 0x15 (n at 0x13, m at 0x14).
// Byte 0 names the element: bit 7 set, a structure type (bits 6:0); clear, a
// board type. Bytes 1 and 2: the least and most of it the chassis can hold.
// Records shorter than 3 bytes, and records past the structure, are not read.
inline PyObject* chassis_contained_elements(Reader& reader, const Structure& s, const Row&) {
    const std::size_t count = s.bytes[0x13], size = s.bytes[0x14];
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (std::size_t k = 0; size >= 3 && k < count && holds(s, 0x15 + k * size, size); ++k) {
        const std::uint8_t* element = s.bytes + 0x15 + k * size;
        OwnedRef type = OwnedRef::checked(element[0] & 0x80 ? reader.name(STRUCTURE_TYPES, element[0] & 0x7F)
                                                            : reader.name(BOARD_TYPES, element[0]));
        OwnedRef record = OwnedRef::checked(Py_BuildValue("{s:O,s:i,s:i}", "type", type.get(), "minimum",
                                                          int{element[1]}, "maximum", int{element[2]}));
        if (PyList_Append(list.get(), record.get()) < 0) throw PyError();
    }
    return list.release();
}

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
    custom("contained_elements", "Contained Elements", 0x13, 2, chassis_contained_elements, Shape::Records),
};
// The SKU follows the n contained elements of m bytes (n at 0x13, m at 0x14).
inline constexpr Items CHASSIS_ITEMS = placement_items(0x15, 0x13, 0x14);
inline constexpr TypeRows CHASSIS_ROWS = rows(CHASSIS_FIELDS, &CHASSIS_ITEMS);

}  // namespace brantel::inventory::decoded
