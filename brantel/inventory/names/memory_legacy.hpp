// Names of the memory controller (type 5) and memory module (type 6) codes,
// two structures that newer tables replace with types 16 and 17.
// Enumerations leave out their "Unknown" code: a code without a name reads
// null. Bit fields name every bit.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName ERROR_DETECTING_METHOD_ROWS[] = {
    {0x01, "Other"},      {0x03, "None"},        {0x04, "8-bit Parity"},
    {0x05, "32-bit ECC"}, {0x06, "64-bit ECC"}, {0x07, "128-bit ECC"}, {0x08, "CRC"},
};
inline constexpr NameTable ERROR_DETECTING_METHODS = name_table(ERROR_DETECTING_METHOD_ROWS);

// Bit numbers.
inline constexpr CodeName ERROR_CORRECTING_CAPABILITY_ROWS[] = {
    {0, "Other"},
    {1, "Unknown"},
    {2, "None"},
    {3, "Single-Bit Error Correcting"},
    {4, "Double-Bit Error Correcting"},
    {5, "Error Scrubbing"},
};
inline constexpr NameTable ERROR_CORRECTING_CAPABILITIES = name_table(ERROR_CORRECTING_CAPABILITY_ROWS);

inline constexpr CodeName INTERLEAVE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "One-Way Interleave"},
    {0x04, "Two-Way Interleave"},
    {0x05, "Four-Way Interleave"},
    {0x06, "Eight-Way Interleave"},
    {0x07, "Sixteen-Way Interleave"},
};
inline constexpr NameTable INTERLEAVES = name_table(INTERLEAVE_ROWS);

// Bit numbers.
inline constexpr CodeName MEMORY_SPEED_ROWS[] = {
    {0, "Other"}, {1, "Unknown"}, {2, "70ns"}, {3, "60ns"}, {4, "50ns"},
};
inline constexpr NameTable MEMORY_SPEEDS = name_table(MEMORY_SPEED_ROWS);

// Bit numbers; the supported types of a controller and the current type of a module.
inline constexpr CodeName MEMORY_MODULE_TYPE_ROWS[] = {
    {0, "Other"}, {1, "Unknown"}, {2, "Standard"},  {3, "Fast Page Mode"}, {4, "EDO"},   {5, "Parity"},
    {6, "ECC"},   {7, "SIMM"},    {8, "DIMM"},      {9, "Burst EDO"},      {10, "SDRAM"},
};
inline constexpr NameTable MEMORY_MODULE_TYPES = name_table(MEMORY_MODULE_TYPE_ROWS);

// Bit numbers of a module's error status.
inline constexpr CodeName MEMORY_MODULE_ERROR_STATUS_ROWS[] = {
    {0, "Uncorrectable errors received"},
    {1, "Correctable errors received"},
    {2, "See event log"},
};
inline constexpr NameTable MEMORY_MODULE_ERROR_STATUSES = name_table(MEMORY_MODULE_ERROR_STATUS_ROWS);

}  // namespace brantel::inventory::names
