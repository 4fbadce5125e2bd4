// Type 39: System Power Supply.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/power_supply.hpp"

namespace brantel::inventory::decoded {

// Characteristics bit 2 says the supply is unplugged from the wall.
inline PyObject* power_supply_plugged(Reader&, const Structure& s, const Row& row) {
    return boolean((read_raw(s, row.offset, 2) & 0x0004) == 0);
}

inline constexpr Row SYSTEM_POWER_SUPPLY_FIELDS[] = {
    integer("power_unit_group", "Power Unit Group", 0x04, 1),
    string("location", "Location", 0x05),
    string("name", "Device Name", 0x06),
    string("manufacturer", "Manufacturer", 0x07),
    string("serial_number", "Serial Number", 0x08),
    string("asset_tag", "Asset Tag Number", 0x09),
    string("model_part_number", "Model Part Number", 0x0A),
    string("revision_level", "Revision Level", 0x0B),
    integer("max_power_capacity_w", "Max Power Capacity", 0x0C, 2).unknown(0x8000),
    enumeration("type", "DMTF Power Supply Type", 0x0E, 2, names::POWER_SUPPLY_TYPE).masked(0x3C00, 10),
    enumeration("status", "Status", 0x0E, 2, names::POWER_SUPPLY_STATUS).masked(0x0380, 7),
    enumeration("input_voltage_range_switching", "DMTF Input Voltage Range Switching", 0x0E, 2,
                names::POWER_SUPPLY_INPUT_SWITCHING)
        .masked(0x0078, 3),
    custom("plugged", "Power supply is unplugged from the wall", 0x0E, 2, power_supply_plugged, Shape::Bool),
    flag("present", "Power supply is present", 0x0E, 2, 0x0002),
    flag("hot_replaceable", "Power supply is hot-replaceable", 0x0E, 2, 0x0001),
    handle("input_voltage_probe_handle", "Input Voltage Probe Handle", 0x10),
    handle("cooling_device_handle", "Cooling Device Handle", 0x12),
    handle("input_current_probe_handle", "Input Current Probe Handle", 0x14),
};
inline constexpr TypeRows SYSTEM_POWER_SUPPLY_ROWS = rows(SYSTEM_POWER_SUPPLY_FIELDS);

}  // namespace brantel::inventory::decoded
