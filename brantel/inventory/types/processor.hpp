// Type 4: Processor Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_totals.hpp"
#include "../decoded_values.hpp"
#include "../names/processor.hpp"

namespace brantel::inventory::decoded {

// The CPU status (bits 2:0) of a populated socket (bit 6); null when empty.
inline PyObject* processor_status(Reader& reader, const Structure& s, const Row& row) {
    const std::uint64_t status = read_raw(s, row.offset, 1);
    if ((status & 0x40) == 0) return none();
    return reader.name(PROCESSOR_STATES, status & 0x07);
}

inline constexpr Row PROCESSOR_FIELDS[] = {
    string("socket", "Socket Designation", 0x04),
    string("manufacturer", "Manufacturer", 0x07),
    string("version", "Version", 0x10),
    speed("max_speed_mhz", "Max Speed", 0x14, 2),
    speed("current_speed_mhz", "Current Speed", 0x16, 2),
    // 0xFF: see the two-byte count (3.0 on), where the structure has it.
    integer("core_count", "Core Count", 0x23, 1).unknown(0).extended(0x2A, 2, 0xFF, 0xFFFF),
    integer("core_enabled", "Core Enabled", 0x24, 1).unknown(0).extended(0x2C, 2, 0xFF, 0xFFFF),
    integer("thread_count", "Thread Count", 0x25, 1).unknown(0).extended(0x2E, 2, 0xFF, 0xFFFF),
    flag("populated", "Status", 0x18, 1, 0x40),
    custom("status", "Status", 0x18, 1, processor_status, Shape::Enum, &PROCESSOR_STATES),
    string("serial_number", "Serial Number", 0x20),
    string("part_number", "Part Number", 0x22),
};
inline constexpr TypeRows PROCESSOR_ROWS = rows(PROCESSOR_FIELDS, nullptr, tally_processor);

}  // namespace brantel::inventory::decoded
