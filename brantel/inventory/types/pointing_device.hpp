// Type 21: Built-in Pointing Device.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/portable_devices.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row POINTING_DEVICE_FIELDS[] = {
    enumeration("type", "Type", 0x04, 1, names::POINTING_DEVICE_TYPE),
    enumeration("interface", "Interface", 0x05, 1, names::POINTING_DEVICE_INTERFACE),
    integer("number_of_buttons", "Number of Buttons", 0x06, 1),
};
inline constexpr TypeRows POINTING_DEVICE_ROWS = rows(POINTING_DEVICE_FIELDS);

}  // namespace brantel::inventory::decoded
