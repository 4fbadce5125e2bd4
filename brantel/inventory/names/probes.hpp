// Names shared by the voltage, temperature and electrical current probes
// (types 26, 28, 29) and the cooling device (type 27): a location or device
// type in bits 4:0 and a status in bits 7:5 of one byte.
// A code the reference names Unknown has no row: it reads null.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName PROBE_STATUS_ROWS[] = {
    {0x01, "Other"},
    {0x03, "OK"},
    {0x04, "Non-critical"},
    {0x05, "Critical"},
    {0x06, "Non-recoverable"},
};
inline constexpr NameTable PROBE_STATUS = name_table(PROBE_STATUS_ROWS);

// Voltage and electrical current probes.
inline constexpr CodeName PROBE_LOCATION_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Processor"},
    {0x04, "Disk"},
    {0x05, "Peripheral Bay"},
    {0x06, "System Management Module"},
    {0x07, "Motherboard"},
    {0x08, "Memory Module"},
    {0x09, "Processor Module"},
    {0x0A, "Power Unit"},
    {0x0B, "Add-in Card"},
};
inline constexpr NameTable PROBE_LOCATION = name_table(PROBE_LOCATION_ROWS);

// Temperature probes have four locations more.
inline constexpr CodeName TEMPERATURE_PROBE_LOCATION_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Processor"},
    {0x04, "Disk"},
    {0x05, "Peripheral Bay"},
    {0x06, "System Management Module"},
    {0x07, "Motherboard"},
    {0x08, "Memory Module"},
    {0x09, "Processor Module"},
    {0x0A, "Power Unit"},
    {0x0B, "Add-in Card"},
    {0x0C, "Front Panel Board"},
    {0x0D, "Back Panel Board"},
    {0x0E, "Power System Board"},
    {0x0F, "Drive Back Plane"},
};
inline constexpr NameTable TEMPERATURE_PROBE_LOCATION = name_table(TEMPERATURE_PROBE_LOCATION_ROWS);

inline constexpr CodeName COOLING_DEVICE_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Fan"},
    {0x04, "Centrifugal Blower"},
    {0x05, "Chip Fan"},
    {0x06, "Cabinet Fan"},
    {0x07, "Power Supply Fan"},
    {0x08, "Heat Pipe"},
    {0x09, "Integrated Refrigeration"},
    {0x10, "Active Cooling"},
    {0x11, "Passive Cooling"},
};
inline constexpr NameTable COOLING_DEVICE_TYPE = name_table(COOLING_DEVICE_TYPE_ROWS);

}  // namespace brantel::inventory::names
