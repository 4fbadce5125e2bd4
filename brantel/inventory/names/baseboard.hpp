// Names of the baseboard structure's codes (type 2), the board types also
// naming the chassis's contained elements.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// Board types; 1 (Unknown) reads null.
inline constexpr CodeName BOARD_TYPE_ROWS[] = {
    {0x02, "Other"},
    {0x03, "Server Blade"},
    {0x04, "Connectivity Switch"},
    {0x05, "System Management Module"},
    {0x06, "Processor Module"},
    {0x07, "I/O Module"},
    {0x08, "Memory Module"},
    {0x09, "Daughter Board"},
    {0x0A, "Motherboard"},
    {0x0B, "Processor+Memory Module"},
    {0x0C, "Processor+I/O Module"},
    {0x0D, "Interconnect Board"},
};
inline constexpr NameTable BOARD_TYPES = name_table(BOARD_TYPE_ROWS);

// Feature flags, by bit (bits 5-7 reserved).
inline constexpr CodeName BOARD_FEATURE_ROWS[] = {
    {0, "Hosting board"},
    {1, "Requires at least one daughter board or auxiliary card"},
    {2, "Removable"},
    {3, "Replaceable"},
    {4, "Hot swappable"},
};
inline constexpr NameTable BOARD_FEATURES = name_table(BOARD_FEATURE_ROWS);

}  // namespace brantel::inventory::decoded
