// Names of the system reset (type 23), hardware security (type 24) and
// system boot (type 32) codes.
// A code the reference names Unknown has no row: it reads null.
#pragma once

#include "../code_names.hpp"
#include "code_ranges.hpp"

namespace brantel::inventory::names {

// What the system does on a watchdog reset (capabilities bits 2:1) or when the
// reset limit is reached (bits 4:3).
inline constexpr CodeName RESET_BOOT_OPTION_ROWS[] = {
    {0x1, "Operating system"},
    {0x2, "System utilities"},
    {0x3, "Do not reboot"},
};
inline constexpr NameTable RESET_BOOT_OPTION = name_table(RESET_BOOT_OPTION_ROWS);

// Each of the four 2-bit fields of the hardware security settings byte.
inline constexpr CodeName SECURITY_STATUS_ROWS[] = {
    {0x0, "Disabled"},
    {0x1, "Enabled"},
    {0x2, "Not Implemented"},
};
inline constexpr NameTable SECURITY_STATUS = name_table(SECURITY_STATUS_ROWS);

inline constexpr CodeName BOOT_STATUS_ROWS[] = {
    {0, "No errors detected"},
    {1, "No bootable media"},
    {2, "Normal operating system failed to load"},
    {3, "Firmware-detected hardware failure"},
    {4, "Operating system-detected hardware failure"},
    {5, "User-requested boot"},
    {6, "System security violation"},
    {7, "Previously-requested image"},
    {8, "System watchdog timer expired"},
};
// 9-127 are reserved.
inline constexpr auto BOOT_STATUS_ALL = with_range<64>(with_range<64>(BOOT_STATUS_ROWS, 128, "Vendor/OEM-specific implementations"),
                                                       192, "Product-specific implementations");
inline constexpr NameTable BOOT_STATUS = name_table(BOOT_STATUS_ALL.rows);

}  // namespace brantel::inventory::names
