// Type 17: Memory Device.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_totals.hpp"
#include "../decoded_values.hpp"
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
};
inline constexpr TypeRows MEMORY_DEVICE_ROWS = rows(MEMORY_DEVICE_FIELDS, nullptr, tally_memory_device);

}  // namespace brantel::inventory::decoded
