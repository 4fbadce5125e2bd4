// Type 17: Memory Device.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_totals.hpp"
#include "../decoded_values.hpp"
#include "../names/memory.hpp"
#include "../names/memory_device.hpp"

namespace brantel::inventory::decoded {

// Size: 0 no module installed, 0xFFFF unknown, 0x7FFF see the extended size
// (bits 30:0, MiB) where the structure has it; otherwise MiB, or KiB when
// bit 15 is set.
inline PyObject* memory_device_size(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t size = read_raw(s, row.offset, 2);
    if (size == 0xFFFF) return none();
    if (size == 0x7FFF && holds(s, 0x1C, 4)) return integer((read_raw(s, 0x1C, 4) & 0x7FFFFFFF) * MIB);
    if (size & 0x8000) return integer((size & 0x7FFF) * KIB);
    return integer(size * MIB);
}

inline constexpr Row MEMORY_DEVICE_FIELDS[] = {
    string("locator", "Locator", 0x10),
    string("bank_locator", "Bank Locator", 0x11),
    custom("size_bytes", "Size", 0x0C, 2, memory_device_size, Shape::Int),
    enumeration("form_factor", "Form Factor", 0x0E, 1, MEMORY_FORM_FACTORS),
    enumeration("type", "Type", 0x12, 1, MEMORY_TYPES),
    speed("speed_mts", "Speed", 0x15, 2).extended(0x54, 4),
    speed("configured_speed_mts", "Configured Memory Speed", 0x20, 2).extended(0x58, 4),
    integer("rank", "Rank", 0x1B, 1).masked(0x0F).unknown(0),
    string("manufacturer", "Manufacturer", 0x17),
    string("serial_number", "Serial Number", 0x18),
    string("part_number", "Part Number", 0x1A),
    integer("set", "Set", 0x0F, 1).unknown(0, 0xFF),  // 0: in no set; 0xFF: set unknown
    handle("array_handle", "Physical Memory Array Handle", 0x04),
    handle("error_information_handle", "Memory Error Information Handle", 0x06),
    // 0xFFFF: unknown; 0, the width of no device, is read as unknown too.
    integer("total_width_bits", "Total Width", 0x08, 2).unknown(0, 0xFFFF),
    integer("data_width_bits", "Data Width", 0x0A, 2).unknown(0, 0xFFFF),
    bits("type_detail", "Type Detail", 0x13, 2, names::MEMORY_TYPE_DETAILS),
    string("asset_tag", "Asset Tag", 0x19),
    voltage("minimum_voltage_mv", "Minimum Voltage", 0x22, 2, 1),
    voltage("maximum_voltage_mv", "Maximum Voltage", 0x24, 2, 1),
    voltage("configured_voltage_mv", "Configured Voltage", 0x26, 2, 1),
    // 3.2 on.
    enumeration("memory_technology", "Memory Technology", 0x28, 1, names::MEMORY_TECHNOLOGIES),
    bits("memory_operating_mode_capability", "Memory Operating Mode Capability", 0x29, 2,
         names::MEMORY_OPERATING_MODES),
    string("firmware_version", "Firmware Version", 0x2B),
    // JEDEC JEP-106 codes (continuation count, then the code); 0: unknown.
    integer("module_manufacturer_id", "Module Manufacturer ID", 0x2C, 2).unknown(0),
    integer("module_product_id", "Module Product ID", 0x2E, 2).unknown(0),
    integer("memory_subsystem_controller_manufacturer_id", "Memory Subsystem Controller Manufacturer ID", 0x30, 2)
        .unknown(0),
    integer("memory_subsystem_controller_product_id", "Memory Subsystem Controller Product ID", 0x32, 2).unknown(0),
    // All ones: unknown; 0: the device has no such portion.
    size("non_volatile_size_bytes", "Non-volatile Size", 0x34, 8, 1).unknown(UINT64_MAX),
    size("volatile_size_bytes", "Volatile Size", 0x3C, 8, 1).unknown(UINT64_MAX),
    size("cache_size_bytes", "Cache Size", 0x44, 8, 1).unknown(UINT64_MAX),
    size("logical_size_bytes", "Logical Size", 0x4C, 8, 1).unknown(UINT64_MAX),
    // 3.7 on (0x54 and 0x58, the 3.3 extended speeds, feed speed_mts and configured_speed_mts).
    integer("pmic0_manufacturer_id", "PMIC0 Manufacturer ID", 0x5C, 2).unknown(0),
    integer("pmic0_revision_number", "PMIC0 Revision Number", 0x5E, 2).unknown(0xFF00),
    integer("rcd_manufacturer_id", "RCD Manufacturer ID", 0x60, 2).unknown(0),
    integer("rcd_revision_number", "RCD Revision Number", 0x62, 2).unknown(0xFF00),
};
inline constexpr TypeRows MEMORY_DEVICE_ROWS = rows(MEMORY_DEVICE_FIELDS, nullptr, tally_memory_device);

}  // namespace brantel::inventory::decoded
