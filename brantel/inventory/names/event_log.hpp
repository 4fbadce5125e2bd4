// Names of the system event log's codes (type 15).
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName EVENT_LOG_ACCESS_METHOD_ROWS[] = {
    {0x00, "Indexed I/O: 1 8-bit index port, 1 8-bit data port"},
    {0x01, "Indexed I/O: 2 8-bit index ports, 1 8-bit data port"},
    {0x02, "Indexed I/O: 1 16-bit index port, 1 8-bit data port"},
    {0x03, "Memory-mapped physical 32-bit address"},
    {0x04, "Available through General-Purpose NonVolatile Data functions"},
};
inline constexpr NameTable EVENT_LOG_ACCESS_METHOD = name_table(EVENT_LOG_ACCESS_METHOD_ROWS);

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
inline constexpr NameTable EVENT_LOG_HEADER_FORMAT = name_table(EVENT_LOG_HEADER_FORMAT_ROWS);

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
inline constexpr NameTable EVENT_LOG_TYPE = name_table(EVENT_LOG_TYPE_ROWS);

inline constexpr CodeName EVENT_LOG_DATA_FORMAT_ROWS[] = {
    {0x00, "None"},
    {0x01, "Handle"},
    {0x02, "Multiple-Event"},
    {0x03, "Multiple-Event Handle"},
    {0x04, "POST Results Bitmap"},
    {0x05, "System Management Type"},
    {0x06, "Multiple-Event System Management Type"},
};
inline constexpr NameTable EVENT_LOG_DATA_FORMAT = name_table(EVENT_LOG_DATA_FORMAT_ROWS);

// Codes from 80h of the access method, header format, log type and data
// format are the OEM's (log type FFh excepted: it ends the log).
inline constexpr CodeName EVENT_LOG_OEM_RANGE_ROWS[] = {
    {0x80, "Available for OEM assignment"},
};
inline constexpr NameTable EVENT_LOG_OEM_RANGE = name_table(EVENT_LOG_OEM_RANGE_ROWS);

}  // namespace brantel::inventory::names
