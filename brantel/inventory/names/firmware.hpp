// Names of the TPM device (type 43), firmware inventory (type 45) and string
// property (type 46) codes.
// A code the reference names Unknown has no row: it reads null.
#pragma once

#include "../code_names.hpp"
#include "code_ranges.hpp"

namespace brantel::inventory::names {

// TPM device characteristics: bit numbers (bits 0 and 1 are reserved).
inline constexpr CodeName TPM_CHARACTERISTICS_ROWS[] = {
    {2, "TPM Device Characteristics are not supported"},
    {3, "Family configurable via firmware update"},
    {4, "Family configurable via platform software support"},
    {5, "Family configurable via OEM proprietary mechanism"},
};
inline constexpr NameTable TPM_CHARACTERISTICS = name_table(TPM_CHARACTERISTICS_ROWS);

inline constexpr CodeName FIRMWARE_VERSION_FORMAT_ROWS[] = {
    {0x00, "Free-form string"},
    {0x01, "MAJOR.MINOR"},
    {0x02, "32-bit hexadecimal string"},
    {0x03, "64-bit hexadecimal string"},
};
inline constexpr auto FIRMWARE_VERSION_FORMAT_ALL = with_range<0x80>(FIRMWARE_VERSION_FORMAT_ROWS, 0x80, "BIOS Vendor/OEM-specific");
inline constexpr NameTable FIRMWARE_VERSION_FORMAT = name_table(FIRMWARE_VERSION_FORMAT_ALL.rows);

inline constexpr CodeName FIRMWARE_ID_FORMAT_ROWS[] = {
    {0x00, "Free-form string"},
    {0x01, "UEFI GUID"},
};
inline constexpr auto FIRMWARE_ID_FORMAT_ALL = with_range<0x80>(FIRMWARE_ID_FORMAT_ROWS, 0x80, "BIOS Vendor/OEM-specific");
inline constexpr NameTable FIRMWARE_ID_FORMAT = name_table(FIRMWARE_ID_FORMAT_ALL.rows);

// Firmware inventory characteristics: bit numbers.
inline constexpr CodeName FIRMWARE_CHARACTERISTICS_ROWS[] = {
    {0, "Updatable"},
    {1, "Write-Protect"},
};
inline constexpr NameTable FIRMWARE_CHARACTERISTICS = name_table(FIRMWARE_CHARACTERISTICS_ROWS);

inline constexpr CodeName FIRMWARE_STATE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Disabled"},
    {0x04, "Enabled"},
    {0x05, "Absent"},
    {0x06, "StandbyOffline"},
    {0x07, "StandbySpare"},
    {0x08, "UnavailableOffline"},
};
inline constexpr NameTable FIRMWARE_STATE = name_table(FIRMWARE_STATE_ROWS);

// String property IDs: 8000h-BFFFh are the BIOS vendor's, C000h-FFFFh the
// OEM's; too many codes for rows, each range has one row at its first code.
inline constexpr std::uint16_t STRING_PROPERTY_ID_BIOS_VENDOR = 0x8000, STRING_PROPERTY_ID_OEM = 0xC000;
inline constexpr CodeName STRING_PROPERTY_ID_ROWS[] = {
    {0x0001, "UEFI device path"},
    {STRING_PROPERTY_ID_BIOS_VENDOR, "BIOS vendor defined"},
    {STRING_PROPERTY_ID_OEM, "OEM defined"},
};
inline constexpr NameTable STRING_PROPERTY_ID = name_table(STRING_PROPERTY_ID_ROWS);

}  // namespace brantel::inventory::names
