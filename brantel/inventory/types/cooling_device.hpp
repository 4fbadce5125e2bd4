// Type 27: Cooling Device.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/probes.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row COOLING_DEVICE_FIELDS[] = {
    handle("temperature_probe_handle", "Temperature Probe Handle", 0x04),
    enumeration("device_type", "Device Type", 0x06, 1, names::COOLING_DEVICE_TYPE).masked(0x1F),
    enumeration("status", "Status", 0x06, 1, names::PROBE_STATUS).masked(0xE0, 5),
    integer("cooling_unit_group", "Cooling Unit Group", 0x07, 1).unknown(0),  // 0: in no redundant unit
    integer("oem_defined", "OEM-defined", 0x08, 4),
    integer("nominal_speed_rpm", "Nominal Speed", 0x0C, 2).unknown(0x8000),  // or not rotating
    string("description", "Description", 0x0E),
};
inline constexpr TypeRows COOLING_DEVICE_ROWS = rows(COOLING_DEVICE_FIELDS);

}  // namespace brantel::inventory::decoded
