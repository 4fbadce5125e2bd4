// Names of the physical memory array (type 16) and memory device (type 17)
// codes; the memory channel (type 37) type too.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName MEMORY_ARRAY_LOCATION_ROWS[] = {
    {0x01, "Other"},
    {0x02, "Unknown"},
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
    {0x01, "Other"},         {0x02, "Unknown"},          {0x03, "System memory"}, {0x04, "Video memory"},
    {0x05, "Flash memory"},  {0x06, "Non-volatile RAM"}, {0x07, "Cache memory"},
};
inline constexpr NameTable MEMORY_ARRAY_USES = name_table(MEMORY_ARRAY_USE_ROWS);

inline constexpr CodeName MEMORY_ERROR_CORRECTION_ROWS[] = {
    {0x01, "Other"},          {0x02, "Unknown"},        {0x03, "None"}, {0x04, "Parity"},
    {0x05, "Single-bit ECC"}, {0x06, "Multi-bit ECC"},  {0x07, "CRC"},
};
inline constexpr NameTable MEMORY_ERROR_CORRECTIONS = name_table(MEMORY_ERROR_CORRECTION_ROWS);

// The names that memory_devices[].form_factor has always given (the
// reference writes "Row of chips").
inline constexpr CodeName MEMORY_FORM_FACTOR_ROWS[] = {
    {0x01, "Other"}, {0x02, "Unknown"}, {0x03, "SIMM"},   {0x04, "SIP"},          {0x05, "Chip"},
    {0x06, "DIP"},   {0x07, "ZIP"},     {0x08, "Proprietary Card"},               {0x09, "DIMM"},
    {0x0A, "TSOP"},  {0x0B, "Row Of Chips"},              {0x0C, "RIMM"},         {0x0D, "SODIMM"},
    {0x0E, "SRIMM"}, {0x0F, "FB-DIMM"}, {0x10, "Die"},
};
inline constexpr NameTable MEMORY_FORM_FACTORS = name_table(MEMORY_FORM_FACTOR_ROWS);

// The names that memory_devices[].type has always given: the reference's,
// without its parenthesised expansions ("HBM (High Bandwidth Memory)") and
// with "Flash" for "FLASH".
inline constexpr CodeName MEMORY_DEVICE_TYPE_ROWS[] = {
    {0x01, "Other"},   {0x02, "Unknown"}, {0x03, "DRAM"},   {0x04, "EDRAM"},   {0x05, "VRAM"},
    {0x06, "SRAM"},    {0x07, "RAM"},     {0x08, "ROM"},    {0x09, "Flash"},   {0x0A, "EEPROM"},
    {0x0B, "FEPROM"},  {0x0C, "EPROM"},   {0x0D, "CDRAM"},  {0x0E, "3DRAM"},   {0x0F, "SDRAM"},
    {0x10, "SGRAM"},   {0x11, "RDRAM"},   {0x12, "DDR"},    {0x13, "DDR2"},    {0x14, "DDR2 FB-DIMM"},
    {0x18, "DDR3"},    {0x19, "FBD2"},    {0x1A, "DDR4"},   {0x1B, "LPDDR"},   {0x1C, "LPDDR2"},
    {0x1D, "LPDDR3"},  {0x1E, "LPDDR4"},  {0x1F, "Logical non-volatile device"},
    {0x20, "HBM"},     {0x21, "HBM2"},    {0x22, "DDR5"},   {0x23, "LPDDR5"},  {0x24, "HBM3"},
};
inline constexpr NameTable MEMORY_DEVICE_TYPES = name_table(MEMORY_DEVICE_TYPE_ROWS);

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
    {0x01, "Other"},    {0x02, "Unknown"},  {0x03, "DRAM"}, {0x04, "NVDIMM-N"},
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
    {0x01, "Other"}, {0x02, "Unknown"}, {0x03, "RamBus"}, {0x04, "SyncLink"},
};
inline constexpr NameTable MEMORY_CHANNEL_TYPES = name_table(MEMORY_CHANNEL_TYPE_ROWS);

}  // namespace brantel::inventory::names
