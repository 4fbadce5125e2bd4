// Names of the BIOS information structure's bit fields (type 0), one row per
// bit, the code being the bit number.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::decoded {

// The 64-bit characteristics field. Bits 0-1 are reserved; bits 32-47 belong
// to the BIOS vendor and 48-63 to the system vendor, so they have no names.
inline constexpr CodeName BIOS_CHARACTERISTICS_ROWS[] = {
    {2, "Unknown"},
    {3, "BIOS Characteristics are not supported"},
    {4, "ISA is supported"},
    {5, "MCA is supported"},
    {6, "EISA is supported"},
    {7, "PCI is supported"},
    {8, "PC card (PCMCIA) is supported"},
    {9, "Plug and Play is supported"},
    {10, "APM is supported"},
    {11, "BIOS is upgradeable (Flash)"},
    {12, "BIOS shadowing is allowed"},
    {13, "VL-VESA is supported"},
    {14, "ESCD support is available"},
    {15, "Boot from CD is supported"},
    {16, "Selectable boot is supported"},
    {17, "BIOS ROM is socketed (e.g. PLCC or SOP socket)"},
    {18, "Boot from PC card (PCMCIA) is supported"},
    {19, "EDD specification is supported"},
    {20, "Int 13h - Japanese floppy for NEC 9800 1.2 MB (3.5\", 1K bytes/sector, 360 RPM) is supported"},
    {21, "Int 13h - Japanese floppy for Toshiba 1.2 MB (3.5\", 360 RPM) is supported"},
    {22, "Int 13h - 5.25\" / 360 KB floppy services are supported"},
    {23, "Int 13h - 5.25\" / 1.2 MB floppy services are supported"},
    {24, "Int 13h - 3.5\" / 720 KB floppy services are supported"},
    {25, "Int 13h - 3.5\" / 2.88 MB floppy services are supported"},
    {26, "Int 5h, print screen Service is supported"},
    {27, "Int 9h, 8042 keyboard services are supported"},
    {28, "Int 14h, serial services are supported"},
    {29, "Int 17h, printer services are supported"},
    {30, "Int 10h, CGA/Mono Video Services are supported"},
    {31, "NEC PC-98"},
};
inline constexpr NameTable BIOS_CHARACTERISTICS = name_table(BIOS_CHARACTERISTICS_ROWS);

// Characteristics extension byte 1.
inline constexpr CodeName BIOS_CHARACTERISTICS_EXT1_ROWS[] = {
    {0, "ACPI is supported"},
    {1, "USB Legacy is supported"},
    {2, "AGP is supported"},
    {3, "I2O boot is supported"},
    {4, "LS-120 SuperDisk boot is supported"},
    {5, "ATAPI ZIP drive boot is supported"},
    {6, "1394 boot is supported"},
    {7, "Smart battery is supported"},
};
inline constexpr NameTable BIOS_CHARACTERISTICS_EXT1 = name_table(BIOS_CHARACTERISTICS_EXT1_ROWS);

// Characteristics extension byte 2 (bit 7 reserved).
inline constexpr CodeName BIOS_CHARACTERISTICS_EXT2_ROWS[] = {
    {0, "BIOS Boot Specification is supported"},
    {1, "Function key-initiated network service boot is supported"},
    {2, "Enable targeted content distribution"},
    {3, "UEFI Specification is supported"},
    {4, "SMBIOS table describes a virtual machine"},
    {5, "Manufacturing mode is supported"},
    {6, "Manufacturing mode is enabled"},
};
inline constexpr NameTable BIOS_CHARACTERISTICS_EXT2 = name_table(BIOS_CHARACTERISTICS_EXT2_ROWS);

// Extended BIOS ROM size, bits 15:14: the unit of bits 13:0.
inline constexpr CodeName BIOS_ROM_SIZE_UNITS_ROWS[] = {
    {0, "MB"},
    {1, "GB"},
};
inline constexpr NameTable BIOS_ROM_SIZE_UNITS = name_table(BIOS_ROM_SIZE_UNITS_ROWS);

}  // namespace brantel::inventory::decoded
