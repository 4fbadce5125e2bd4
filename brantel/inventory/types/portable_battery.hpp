// Type 22: Portable Battery.
#pragma once

#include <cstdio>

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/portable_devices.hpp"

namespace brantel::inventory::decoded {

// Design capacity in mWh: the word times the multiplier at 0x15 where the
// structure has one (0 unknown).
inline PyObject* battery_design_capacity(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t capacity = read_raw(s, row.offset, 2);
    if (capacity == 0) return none();
    const std::uint64_t multiplier = holds(s, 0x15, 1) ? s.bytes[0x15] : 1;
    return integer(capacity * (multiplier == 0 ? 1 : multiplier));
}

// The smart battery's manufacture date, packed: bits 15:9 years since 1980,
// 8:5 month, 4:0 day. "YYYY-MM-DD"; null when the month or day cannot be.
inline PyObject* sbds_manufacture_date(Reader&, const Structure& s, const Row& row) {
    const unsigned packed = static_cast<unsigned>(read_raw(s, row.offset, 2));
    const unsigned year = 1980 + (packed >> 9), month = (packed >> 5) & 0x0F, day = packed & 0x1F;
    if (month < 1 || month > 12 || day < 1) return none();
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
    return PyUnicode_FromString(text);
}

inline constexpr Row PORTABLE_BATTERY_FIELDS[] = {
    string("location", "Location", 0x04),
    string("manufacturer", "Manufacturer", 0x05),
    string("manufacture_date", "Manufacture Date", 0x06),
    string("serial_number", "Serial Number", 0x07),
    string("device_name", "Device Name", 0x08),
    enumeration("device_chemistry", "Device Chemistry", 0x09, 1, names::BATTERY_CHEMISTRY),
    custom("design_capacity_mwh", "Design Capacity", 0x0A, 2, battery_design_capacity, Shape::Int),
    voltage("design_voltage_mv", "Design Voltage", 0x0C, 2, 1),
    string("sbds_version_number", "SBDS Version Number", 0x0E),
    integer("maximum_error_in_battery_data_percent", "Maximum Error in Battery Data", 0x0F, 1).unknown(0xFF),
    integer("sbds_serial_number", "SBDS Serial Number", 0x10, 2),
    custom("sbds_manufacture_date", "SBDS Manufacture Date", 0x12, 2, sbds_manufacture_date, Shape::Text),
    string("sbds_device_chemistry", "SBDS Device Chemistry", 0x14),
    integer("design_capacity_multiplier", "Design Capacity Multiplier", 0x15, 1),
    integer("oem_specific", "OEM-specific", 0x16, 4),
};
inline constexpr TypeRows PORTABLE_BATTERY_ROWS = rows(PORTABLE_BATTERY_FIELDS);

}  // namespace brantel::inventory::decoded
