// Names of the system information structure's codes (type 1).
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// Wake-up type. 0 is reserved; 2 (Unknown) has no name, as every unknown value
// of the decoded view is null.
inline constexpr CodeName WAKE_UP_TYPES_ROWS[] = {
    {0x01, "Other"},
    {0x03, "APM Timer"},
    {0x04, "Modem Ring"},
    {0x05, "LAN Remote"},
    {0x06, "Power Switch"},
    {0x07, "PCI PME#"},
    {0x08, "AC Power Restored"},
};
inline constexpr NameTable WAKE_UP_TYPES = name_table(WAKE_UP_TYPES_ROWS);

}  // namespace brantel::inventory::decoded
