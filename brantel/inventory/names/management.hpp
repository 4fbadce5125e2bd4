// Names of the management device (type 34), IPMI device (type 38) and
// management controller host interface (type 42) codes.
// A code the reference names Unknown has no row: it reads null.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName MANAGEMENT_DEVICE_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "National Semiconductor LM75"},
    {0x04, "National Semiconductor LM78"},
    {0x05, "National Semiconductor LM79"},
    {0x06, "National Semiconductor LM80"},
    {0x07, "National Semiconductor LM81"},
    {0x08, "Analog Devices ADM9240"},
    {0x09, "Dallas Semiconductor DS1780"},
    {0x0A, "Maxim 1617"},
    {0x0B, "Genesys GL518SM"},
    {0x0C, "Winbond W83781D"},
    {0x0D, "Holtek HT82H791"},
};
inline constexpr NameTable MANAGEMENT_DEVICE_TYPE = name_table(MANAGEMENT_DEVICE_TYPE_ROWS);

inline constexpr CodeName MANAGEMENT_DEVICE_ADDRESS_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "I/O Port"},
    {0x04, "Memory"},
    {0x05, "SM Bus"},
};
inline constexpr NameTable MANAGEMENT_DEVICE_ADDRESS_TYPE = name_table(MANAGEMENT_DEVICE_ADDRESS_TYPE_ROWS);

inline constexpr CodeName IPMI_INTERFACE_TYPE_ROWS[] = {
    {0x01, "KCS: Keyboard Controller Style"},
    {0x02, "SMIC: Server Management Interface Chip"},
    {0x03, "BT: Block Transfer"},
    {0x04, "SSIF: SMBus System Interface"},
};
inline constexpr NameTable IPMI_INTERFACE_TYPE = name_table(IPMI_INTERFACE_TYPE_ROWS);

// Base address modifier bits 7:6.
inline constexpr CodeName IPMI_REGISTER_SPACING_ROWS[] = {
    {0x0, "Successive byte boundaries"},
    {0x1, "32-bit boundaries"},
    {0x2, "16-byte boundaries"},
};
inline constexpr NameTable IPMI_REGISTER_SPACING = name_table(IPMI_REGISTER_SPACING_ROWS);

// Base address modifier bit 1.
inline constexpr CodeName IPMI_INTERRUPT_POLARITY_ROWS[] = {
    {0, "Active low"},
    {1, "Active high"},
};
inline constexpr NameTable IPMI_INTERRUPT_POLARITY = name_table(IPMI_INTERRUPT_POLARITY_ROWS);

// Base address modifier bit 0.
inline constexpr CodeName IPMI_INTERRUPT_TRIGGER_MODE_ROWS[] = {
    {0, "Edge"},
    {1, "Level"},
};
inline constexpr NameTable IPMI_INTERRUPT_TRIGGER_MODE = name_table(IPMI_INTERRUPT_TRIGGER_MODE_ROWS);

// Management controller host interface types (the MCTP host interface codes).
inline constexpr CodeName HOST_INTERFACE_TYPE_ROWS[] = {
    {0x02, "KCS: Keyboard Controller Style"},
    {0x03, "8250 UART Register Compatible"},
    {0x04, "16450 UART Register Compatible"},
    {0x05, "16550/16550A UART Register Compatible"},
    {0x06, "16650/16650A UART Register Compatible"},
    {0x07, "16750/16750A UART Register Compatible"},
    {0x08, "16850/16850A UART Register Compatible"},
    {0x40, "Network Host Interface"},
    {0xF0, "OEM"},
};
inline constexpr NameTable HOST_INTERFACE_TYPE = name_table(HOST_INTERFACE_TYPE_ROWS);

inline constexpr CodeName HOST_INTERFACE_PROTOCOL_ROWS[] = {
    {0x02, "IPMI"},
    {0x03, "MCTP"},
    {0x04, "Redfish over IP"},
    {0xF0, "OEM-defined"},
};
inline constexpr NameTable HOST_INTERFACE_PROTOCOL = name_table(HOST_INTERFACE_PROTOCOL_ROWS);

}  // namespace brantel::inventory::names
