// Names of the built-in pointing device (type 21) and portable battery
// (type 22) codes.
// A code the reference names Unknown has no row: it reads null.
#pragma once

#include "../code_names.hpp"

namespace brantel::inventory::names {

inline constexpr CodeName POINTING_DEVICE_TYPE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Mouse"},
    {0x04, "Track Ball"},
    {0x05, "Track Point"},
    {0x06, "Glide Point"},
    {0x07, "Touch Pad"},
    {0x08, "Touch Screen"},
    {0x09, "Optical Sensor"},
};
inline constexpr NameTable POINTING_DEVICE_TYPE = name_table(POINTING_DEVICE_TYPE_ROWS);

inline constexpr CodeName POINTING_DEVICE_INTERFACE_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Serial"},
    {0x04, "PS/2"},
    {0x05, "Infrared"},
    {0x06, "HP-HIL"},
    {0x07, "Bus mouse"},
    {0x08, "ADB (Apple Desktop Bus)"},
    {0xA0, "Bus mouse DB-9"},
    {0xA1, "Bus mouse micro-DIN"},
    {0xA2, "USB"},
    {0xA3, "I2C"},
    {0xA4, "SPI"},
};
inline constexpr NameTable POINTING_DEVICE_INTERFACE = name_table(POINTING_DEVICE_INTERFACE_ROWS);

inline constexpr CodeName BATTERY_CHEMISTRY_ROWS[] = {
    {0x01, "Other"},
    {0x03, "Lead Acid"},
    {0x04, "Nickel Cadmium"},
    {0x05, "Nickel metal hydride"},
    {0x06, "Lithium-ion"},
    {0x07, "Zinc air"},
    {0x08, "Lithium Polymer"},
};
inline constexpr NameTable BATTERY_CHEMISTRY = name_table(BATTERY_CHEMISTRY_ROWS);

}  // namespace brantel::inventory::names
