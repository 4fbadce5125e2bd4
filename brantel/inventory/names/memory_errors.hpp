// Names of the memory error codes, shared by the 32-bit (type 18) and 64-bit
// (type 33) memory error structures.
// Enumerations leave out their "Unknown" code: a code without a name reads
// null. Bit fields name every bit.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName MEMORY_ERROR_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "OK"},
    {0x04, "Bad read"},
    {0x05, "Parity error"},
    {0x06, "Single-bit error"},
    {0x07, "Double-bit error"},
    {0x08, "Multi-bit error"},
    {0x09, "Nibble error"},
    {0x0A, "Checksum error"},
    {0x0B, "CRC error"},
    {0x0C, "Corrected single-bit error"},
    {0x0D, "Corrected error"},
    {0x0E, "Uncorrectable error"},
};
inline constexpr NameTable MEMORY_ERROR_TYPES = name_table(MEMORY_ERROR_TYPE_ROWS);

inline constexpr CodeName MEMORY_ERROR_GRANULARITY_ROWS[] = {
    {0x01, "Other"}, {0x03, "Device level"}, {0x04, "Memory partition level"},
};
inline constexpr NameTable MEMORY_ERROR_GRANULARITIES = name_table(MEMORY_ERROR_GRANULARITY_ROWS);

inline constexpr CodeName MEMORY_ERROR_OPERATION_ROWS[] = {
    {0x01, "Other"}, {0x03, "Read"}, {0x04, "Write"}, {0x05, "Partial write"},
};
inline constexpr NameTable MEMORY_ERROR_OPERATIONS = name_table(MEMORY_ERROR_OPERATION_ROWS);

}  // namespace brantel::inventory::names
