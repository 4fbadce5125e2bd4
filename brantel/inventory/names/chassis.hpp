// Names of the chassis structure's codes (type 3).
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// Chassis types (bits 6:0 of the type byte); 2 (Unknown) reads null.
inline constexpr CodeName CHASSIS_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Desktop"},
    {0x04, "Low Profile Desktop"},
    {0x05, "Pizza Box"},
    {0x06, "Mini Tower"},
    {0x07, "Tower"},
    {0x08, "Portable"},
    {0x09, "Laptop"},
    {0x0A, "Notebook"},
    {0x0B, "Hand Held"},
    {0x0C, "Docking Station"},
    {0x0D, "All In One"},
    {0x0E, "Sub Notebook"},
    {0x0F, "Space-saving"},
    {0x10, "Lunch Box"},
    {0x11, "Main Server Chassis"},
    {0x12, "Expansion Chassis"},
    {0x13, "Sub Chassis"},
    {0x14, "Bus Expansion Chassis"},
    {0x15, "Peripheral Chassis"},
    {0x16, "RAID Chassis"},
    {0x17, "Rack Mount Chassis"},
    {0x18, "Sealed-case PC"},
    {0x19, "Multi-system"},
    {0x1A, "CompactPCI"},
    {0x1B, "AdvancedTCA"},
    {0x1C, "Blade"},
    {0x1D, "Blade Enclosing"},
    {0x1E, "Tablet"},
    {0x1F, "Convertible"},
    {0x20, "Detachable"},
    {0x21, "IoT Gateway"},
    {0x22, "Embedded PC"},
    {0x23, "Mini PC"},
    {0x24, "Stick PC"},
};
inline constexpr NameTable CHASSIS_TYPES = name_table(CHASSIS_TYPE_ROWS);

// Boot-up, power supply and thermal state; 2 (Unknown) reads null.
inline constexpr CodeName CHASSIS_STATE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Safe"},
    {0x04, "Warning"},
    {0x05, "Critical"},
    {0x06, "Non-recoverable"},
};
inline constexpr NameTable CHASSIS_STATES = name_table(CHASSIS_STATE_ROWS);

// Security status; 2 (Unknown) reads null.
inline constexpr CodeName CHASSIS_SECURITY_STATUS_ROWS[] = {
    {0x01, "Other"},
    {0x03, "None"},
    {0x04, "External interface locked out"},
    {0x05, "External interface enabled"},
};
inline constexpr NameTable CHASSIS_SECURITY_STATUSES = name_table(CHASSIS_SECURITY_STATUS_ROWS);

}  // namespace brantel::inventory::decoded
