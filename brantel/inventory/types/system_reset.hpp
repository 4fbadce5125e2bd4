// Type 23: System Reset.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/system_controls.hpp"

namespace brantel::inventory::decoded {

// Counts and times of FFFFh are unknown.
inline constexpr Row SYSTEM_RESET_FIELDS[] = {
    flag("enabled", "Capabilities", 0x04, 1, 0x01),
    enumeration("boot_option", "Boot Option", 0x04, 1, names::RESET_BOOT_OPTION).masked(0x06, 1),
    enumeration("boot_option_on_limit", "Boot Option On Limit", 0x04, 1, names::RESET_BOOT_OPTION).masked(0x18, 3),
    flag("watchdog_timer_present", "Watchdog Timer", 0x04, 1, 0x20),
    integer("reset_count", "Reset Count", 0x05, 2).unknown(0xFFFF),
    integer("reset_limit", "Reset Limit", 0x07, 2).unknown(0xFFFF),
    integer("timer_interval_minutes", "Timer Interval", 0x09, 2).unknown(0xFFFF),
    integer("timeout_minutes", "Timeout", 0x0B, 2).unknown(0xFFFF),
};
inline constexpr TypeRows SYSTEM_RESET_ROWS = rows(SYSTEM_RESET_FIELDS);

}  // namespace brantel::inventory::decoded
