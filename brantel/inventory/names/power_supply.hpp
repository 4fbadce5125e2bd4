// Names of the system power supply codes (type 39): fields of the power
// supply characteristics word.
// A code the reference names Unknown has no row: it reads null.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

// Bits 13:10.
inline constexpr CodeName POWER_SUPPLY_TYPE_ROWS[] = {
    {0x1, "Other"},
    {0x3, "Linear"},
    {0x4, "Switching"},
    {0x5, "Battery"},
    {0x6, "UPS"},
    {0x7, "Converter"},
    {0x8, "Regulator"},
};
inline constexpr NameTable POWER_SUPPLY_TYPE = name_table(POWER_SUPPLY_TYPE_ROWS);

// Bits 9:7.
inline constexpr CodeName POWER_SUPPLY_STATUS_ROWS[] = {
    {0x1, "Other"},
    {0x3, "OK"},
    {0x4, "Non-critical"},
    {0x5, "Critical"},
};
inline constexpr NameTable POWER_SUPPLY_STATUS = name_table(POWER_SUPPLY_STATUS_ROWS);

// Bits 6:3.
inline constexpr CodeName POWER_SUPPLY_INPUT_SWITCHING_ROWS[] = {
    {0x1, "Other"},
    {0x3, "Manual"},
    {0x4, "Auto-switch"},
    {0x5, "Wide range"},
    {0x6, "Not applicable"},
};
inline constexpr NameTable POWER_SUPPLY_INPUT_SWITCHING = name_table(POWER_SUPPLY_INPUT_SWITCHING_ROWS);

}  // namespace brantel::inventory::names
