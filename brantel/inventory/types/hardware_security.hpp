// Type 24: Hardware Security.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/system_controls.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row HARDWARE_SECURITY_FIELDS[] = {
    enumeration("power_on_password_status", "Power-on Password Status", 0x04, 1, names::SECURITY_STATUS).masked(0xC0, 6),
    enumeration("keyboard_password_status", "Keyboard Password Status", 0x04, 1, names::SECURITY_STATUS).masked(0x30, 4),
    enumeration("administrator_password_status", "Administrator Password Status", 0x04, 1, names::SECURITY_STATUS)
        .masked(0x0C, 2),
    enumeration("front_panel_reset_status", "Front Panel Reset Status", 0x04, 1, names::SECURITY_STATUS).masked(0x03),
};
inline constexpr TypeRows HARDWARE_SECURITY_ROWS = rows(HARDWARE_SECURITY_FIELDS);

}  // namespace brantel::inventory::decoded
