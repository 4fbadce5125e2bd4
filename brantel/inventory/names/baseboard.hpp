// Names of the baseboard structure's codes (type 2).
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

}  // namespace brantel::inventory::decoded
