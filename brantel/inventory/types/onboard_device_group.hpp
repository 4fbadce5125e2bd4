// Type 10: On Board Devices Information (obsolete since 2.6: type 41 replaces
// it). The devices fill the formatted area, two bytes each.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/onboard_devices.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row ONBOARD_DEVICE_FIELDS[] = {
    enumeration("type", "Device Type", 0x00, 1, names::ONBOARD_DEVICE_TYPES).masked(0x7F),
    flag("enabled", "Device Status", 0x00, 1, 0x80),
    string("description", "Description String", 0x01),
};
inline constexpr Items ONBOARD_DEVICES = items("devices", "On Board Device", 0x04, 0, 0, 2, ONBOARD_DEVICE_FIELDS);
// The structure has no field besides its devices: the rows pointer only marks the type decoded.
inline constexpr TypeRows ONBOARD_DEVICE_GROUP_ROWS{ONBOARD_DEVICE_FIELDS, 0, &ONBOARD_DEVICES, nullptr};

}  // namespace brantel::inventory::decoded
