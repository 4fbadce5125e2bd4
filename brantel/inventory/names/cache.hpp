// Names of the cache information structure's codes (type 7).
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// Cache configuration bits 9:8; 3 (Unknown) has no name.
inline constexpr CodeName CACHE_OPERATIONAL_MODES_ROWS[] = {
    {0, "Write Through"},
    {1, "Write Back"},
    {2, "Varies with Memory Address"},
};
inline constexpr NameTable CACHE_OPERATIONAL_MODES = name_table(CACHE_OPERATIONAL_MODES_ROWS);

// Cache configuration bits 6:5; 2 is reserved, 3 (Unknown) has no name.
inline constexpr CodeName CACHE_LOCATIONS_ROWS[] = {
    {0, "Internal"},
    {1, "External"},
};
inline constexpr NameTable CACHE_LOCATIONS = name_table(CACHE_LOCATIONS_ROWS);

// Supported and current SRAM type, by bit (bits 7-15 reserved).
inline constexpr CodeName CACHE_SRAM_TYPES_ROWS[] = {
    {0, "Other"},
    {1, "Unknown"},
    {2, "Non-Burst"},
    {3, "Burst"},
    {4, "Pipeline Burst"},
    {5, "Synchronous"},
    {6, "Asynchronous"},
};
inline constexpr NameTable CACHE_SRAM_TYPES = name_table(CACHE_SRAM_TYPES_ROWS);

// Error correction type; 2 (Unknown) has no name.
inline constexpr CodeName CACHE_ERROR_CORRECTION_TYPES_ROWS[] = {
    {0x01, "Other"},
    {0x03, "None"},
    {0x04, "Parity"},
    {0x05, "Single-bit ECC"},
    {0x06, "Multi-bit ECC"},
};
inline constexpr NameTable CACHE_ERROR_CORRECTION_TYPES = name_table(CACHE_ERROR_CORRECTION_TYPES_ROWS);

// System cache type; 2 (Unknown) has no name.
inline constexpr CodeName CACHE_SYSTEM_TYPES_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Instruction"},
    {0x04, "Data"},
    {0x05, "Unified"},
};
inline constexpr NameTable CACHE_SYSTEM_TYPES = name_table(CACHE_SYSTEM_TYPES_ROWS);

// Associativity; 2 (Unknown) has no name.
inline constexpr CodeName CACHE_ASSOCIATIVITY_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Direct Mapped"},
    {0x04, "2-way Set-Associative"},
    {0x05, "4-way Set-Associative"},
    {0x06, "Fully Associative"},
    {0x07, "8-way Set-Associative"},
    {0x08, "16-way Set-Associative"},
    {0x09, "12-way Set-Associative"},
    {0x0A, "24-way Set-Associative"},
    {0x0B, "32-way Set-Associative"},
    {0x0C, "48-way Set-Associative"},
    {0x0D, "64-way Set-Associative"},
    {0x0E, "20-way Set-Associative"},
};
inline constexpr NameTable CACHE_ASSOCIATIVITY = name_table(CACHE_ASSOCIATIVITY_ROWS);

}  // namespace brantel::inventory::decoded
