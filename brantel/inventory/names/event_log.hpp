// Names of the system event log's codes (type 15).
#pragma once

#include "../code_names.hpp"
#include "code_ranges.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName EVENT_LOG_ACCESS_METHOD_ROWS[] = {
    {0x00, "Indexed I/O: 1 8-bit index port, 1 8-bit data port"},
    {0x01, "Indexed I/O: 2 8-bit index ports, 1 8-bit data port"},
    {0x02, "Indexed I/O: 1 16-bit index port, 1 8-bit data port"},
    {0x03, "Memory-mapped physical 32-bit address"},
    {0x04, "Available through General-Purpose NonVolatile Data functions"},
};
inline constexpr auto EVENT_LOG_ACCESS_METHOD_ALL = with_range<0x80>(EVENT_LOG_ACCESS_METHOD_ROWS, 0x80, "Available for OEM assignment");
inline constexpr NameTable EVENT_LOG_ACCESS_METHOD = name_table(EVENT_LOG_ACCESS_METHOD_ALL.rows);

// Log status: bit numbers.
inline constexpr CodeName EVENT_LOG_STATUS_ROWS[] = {
    {0, "Log area valid"},
    {1, "Log area full"},
};
inline constexpr NameTable EVENT_LOG_STATUS = name_table(EVENT_LOG_STATUS_ROWS);

inline constexpr CodeName EVENT_LOG_HEADER_FORMAT_ROWS[] = {
    {0x00, "No header"},
    {0x01, "Type 1 log header"},
};
inline constexpr auto EVENT_LOG_HEADER_FORMAT_ALL = with_range<0x80>(EVENT_LOG_HEADER_FORMAT_ROWS, 0x80, "Available for OEM assignment");
inline constexpr NameTable EVENT_LOG_HEADER_FORMAT = name_table(EVENT_LOG_HEADER_FORMAT_ALL.rows);

// The event types a supported log type descriptor names.
inline constexpr CodeName EVENT_LOG_TYPE_ROWS[] = {
    {0x01, "Single-bit ECC memory error"},
    {0x02, "Multi-bit ECC memory error"},
    {0x03, "Parity memory error"},
    {0x04, "Bus time-out"},
    {0x05, "I/O Channel Check"},
    {0x06, "Software NMI"},
    {0x07, "POST Memory Resize"},
    {0x08, "POST Error"},
    {0x09, "PCI Parity Error"},
    {0x0A, "PCI System Error"},
    {0x0B, "CPU Failure"},
    {0x0C, "EISA FailSafe Timer time-out"},
    {0x0D, "Correctable memory log disabled"},
    {0x0E, "Logging disabled for a specific Event Type"},
    {0x10, "System Limit Exceeded"},
    {0x11, "Asynchronous hardware timer expired and issued a system reset"},
    {0x12, "System configuration information"},
    {0x13, "Hard-disk information"},
    {0x14, "System reconfigured"},
    {0x15, "Uncorrectable CPU-complex error"},
    {0x16, "Log Area Reset/Cleared"},
    {0x17, "System boot"},
    {0xFF, "End of log"},
};
inline constexpr auto EVENT_LOG_TYPE_ALL = with_range<0x7F>(EVENT_LOG_TYPE_ROWS, 0x80, "Available for system- and OEM-specific assignments");
inline constexpr NameTable EVENT_LOG_TYPE = name_table(EVENT_LOG_TYPE_ALL.rows);

inline constexpr CodeName EVENT_LOG_DATA_FORMAT_ROWS[] = {
    {0x00, "None"},
    {0x01, "Handle"},
    {0x02, "Multiple-Event"},
    {0x03, "Multiple-Event Handle"},
    {0x04, "POST Results Bitmap"},
    {0x05, "System Management Type"},
    {0x06, "Multiple-Event System Management Type"},
};
inline constexpr auto EVENT_LOG_DATA_FORMAT_ALL = with_range<0x80>(EVENT_LOG_DATA_FORMAT_ROWS, 0x80, "OEM assigned");
inline constexpr NameTable EVENT_LOG_DATA_FORMAT = name_table(EVENT_LOG_DATA_FORMAT_ALL.rows);

}  // namespace brantel::inventory::names
