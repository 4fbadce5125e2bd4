// Names of the on-board device types, shared by the on-board devices (type 10)
// and on-board devices extended (type 41) structures.
// Enumerations leave out their "Unknown" code: a code without a name reads
// null. Bit fields name every bit.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName ONBOARD_DEVICE_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Video"},
    {0x04, "SCSI Controller"},
    {0x05, "Ethernet"},
    {0x06, "Token Ring"},
    {0x07, "Sound"},
    {0x08, "PATA Controller"},
    {0x09, "SATA Controller"},
    {0x0A, "SAS Controller"},
    {0x0B, "Wireless LAN"},
    {0x0C, "Bluetooth"},
    {0x0D, "WWAN"},
    {0x0E, "eMMC (embedded Multi-Media Controller)"},
    {0x0F, "NVMe Controller"},
    {0x10, "UFS Controller"},
};
inline constexpr NameTable ONBOARD_DEVICE_TYPES = name_table(ONBOARD_DEVICE_TYPE_ROWS);

}  // namespace brantel::inventory::names
