// Type 41: Onboard Devices Extended Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/onboard_devices.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row ONBOARD_DEVICE_EXTENDED_FIELDS[] = {
    string("reference_designation", "Reference Designation", 0x04),
    enumeration("type", "Device Type", 0x05, 1, names::ONBOARD_DEVICE_TYPES).masked(0x7F),
    flag("enabled", "Device Status", 0x05, 1, 0x80),
    integer("type_instance", "Device Type Instance", 0x06, 1),
    // No PCI address: 0xFF in every field, the segment read as a word (all ones)
    // or as a byte (0x00FF), as firmware writes both.
    bus_address("bus_address", "Bus Address", 0x07).unknown(0xFFFF00FF),
};
inline constexpr TypeRows ONBOARD_DEVICE_EXTENDED_ROWS = rows(ONBOARD_DEVICE_EXTENDED_FIELDS);

}  // namespace brantel::inventory::decoded
