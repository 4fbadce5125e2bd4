// Type 45: Firmware Inventory Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/firmware.hpp"
#include "record_lists.hpp"

namespace brantel::inventory::decoded {

inline PyObject* firmware_associated_components(Reader&, const Structure& s, const Row& row) {
    return handle_list(s, 0x18, s.bytes[row.offset]);
}

inline constexpr Row FIRMWARE_INVENTORY_FIELDS[] = {
    string("firmware_component_name", "Firmware Component Name", 0x04),
    string("firmware_version", "Firmware Version", 0x05),
    enumeration("version_format", "Version Format", 0x06, 1, names::FIRMWARE_VERSION_FORMAT),
    string("firmware_id", "Firmware ID", 0x07),
    enumeration("firmware_id_format", "Firmware ID Format", 0x08, 1, names::FIRMWARE_ID_FORMAT),
    string("release_date", "Release Date", 0x09),
    string("manufacturer", "Manufacturer", 0x0A),
    string("lowest_supported_firmware_version", "Lowest Supported Firmware Version", 0x0B),
    size("image_size_bytes", "Image Size", 0x0C, 8, 1).unknown(0xFFFFFFFFFFFFFFFF),
    bits("characteristics", "Characteristics", 0x14, 2, names::FIRMWARE_CHARACTERISTICS),
    enumeration("state", "State", 0x16, 1, names::FIRMWARE_STATE),
    integer("number_of_associated_components", "Number of Associated Components", 0x17, 1),
    custom("associated_component_handles", "Associated Component Handles", 0x17, 1, firmware_associated_components,
           Shape::IntList),
};
inline constexpr TypeRows FIRMWARE_INVENTORY_ROWS = rows(FIRMWARE_INVENTORY_FIELDS);

}  // namespace brantel::inventory::decoded
