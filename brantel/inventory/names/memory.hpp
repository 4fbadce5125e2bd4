// Names of the physical memory array (type 16) codes, the memory device
// (type 17) codes that names/memory_device.hpp does not hold, and the memory
// channel (type 37) type.
// Enumerations leave out their "Unknown" code: a code without a name reads
// null. Bit fields name every bit.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName MEMORY_ARRAY_LOCATION_ROWS[] = {
    {0x01, "Other"},
    {0x03, "System board or motherboard"},
    {0x04, "ISA add-on card"},
    {0x05, "EISA add-on card"},
    {0x06, "PCI add-on card"},
    {0x07, "MCA add-on card"},
    {0x08, "PCMCIA add-on card"},
    {0x09, "Proprietary add-on card"},
    {0x0A, "NuBus"},
    {0xA0, "PC-98/C20 add-on card"},
    {0xA1, "PC-98/C24 add-on card"},
    {0xA2, "PC-98/E add-on card"},
    {0xA3, "PC-98/Local bus add-on card"},
    {0xA4, "CXL add-on card"},
};
inline constexpr NameTable MEMORY_ARRAY_LOCATIONS = name_table(MEMORY_ARRAY_LOCATION_ROWS);

inline constexpr std::uint16_t MEMORY_ARRAY_USE_SYSTEM_MEMORY = 0x03;
inline constexpr CodeName MEMORY_ARRAY_USE_ROWS[] = {
    {0x01, "Other"},         {0x03, "System memory"}, {0x04, "Video memory"},
    {0x05, "Flash memory"},  {0x06, "Non-volatile RAM"}, {0x07, "Cache memory"},
};
inline constexpr NameTable MEMORY_ARRAY_USES = name_table(MEMORY_ARRAY_USE_ROWS);

inline constexpr CodeName MEMORY_ERROR_CORRECTION_ROWS[] = {
    {0x01, "Other"},          {0x03, "None"}, {0x04, "Parity"},
    {0x05, "Single-bit ECC"}, {0x06, "Multi-bit ECC"},  {0x07, "CRC"},
};
inline constexpr NameTable MEMORY_ERROR_CORRECTIONS = name_table(MEMORY_ERROR_CORRECTION_ROWS);

// Bit numbers (bit 0 is reserved).
inline constexpr CodeName MEMORY_TYPE_DETAIL_ROWS[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Fast-paged"},
    {4, "Static column"},
    {5, "Pseudo-static"},
    {6, "RAMBUS"},
    {7, "Synchronous"},
    {8, "CMOS"},
    {9, "EDO"},
    {10, "Window DRAM"},
    {11, "Cache DRAM"},
    {12, "Non-volatile"},
    {13, "Registered (Buffered)"},
    {14, "Unbuffered (Unregistered)"},
    {15, "LRDIMM"},
};
inline constexpr NameTable MEMORY_TYPE_DETAILS = name_table(MEMORY_TYPE_DETAIL_ROWS);

inline constexpr CodeName MEMORY_TECHNOLOGY_ROWS[] = {
    {0x01, "Other"},    {0x03, "DRAM"}, {0x04, "NVDIMM-N"},
    {0x05, "NVDIMM-F"}, {0x06, "NVDIMM-P"}, {0x07, "Intel Optane persistent memory"},
};
inline constexpr NameTable MEMORY_TECHNOLOGIES = name_table(MEMORY_TECHNOLOGY_ROWS);

// Bit numbers (bit 0 is reserved).
inline constexpr CodeName MEMORY_OPERATING_MODE_ROWS[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Volatile memory"},
    {4, "Byte-accessible persistent memory"},
    {5, "Block-accessible persistent memory"},
};
inline constexpr NameTable MEMORY_OPERATING_MODES = name_table(MEMORY_OPERATING_MODE_ROWS);

inline constexpr CodeName MEMORY_CHANNEL_TYPE_ROWS[] = {
    {0x01, "Other"}, {0x03, "RamBus"}, {0x04, "SyncLink"},
};
inline constexpr NameTable MEMORY_CHANNEL_TYPES = name_table(MEMORY_CHANNEL_TYPE_ROWS);

}  // namespace brantel::inventory::names
