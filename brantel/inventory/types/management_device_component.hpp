// Type 35: Management Device Component.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MANAGEMENT_DEVICE_COMPONENT_FIELDS[] = {
    string("description", "Description", 0x04),
    handle("management_device_handle", "Management Device Handle", 0x05),
    handle("component_handle", "Component Handle", 0x07),
    handle("threshold_handle", "Threshold Handle", 0x09),
};
inline constexpr TypeRows MANAGEMENT_DEVICE_COMPONENT_ROWS = rows(MANAGEMENT_DEVICE_COMPONENT_FIELDS);

}  // namespace brantel::inventory::decoded
