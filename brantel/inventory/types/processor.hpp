// Type 4: Processor Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_totals.hpp"
#include "../decoded_values.hpp"
#include "../names/processor.hpp"

namespace brantel::inventory::decoded {

// The CPU status (bits 2:0) of a populated socket (bit 6); null when empty.
inline PyObject* processor_status(Reader& reader, const Structure& s, const Row&) {
    const std::uint64_t status = read_raw(s, reader.at(), 1);
    if ((status & 0x40) == 0) return none();
    return reader.name(PROCESSOR_STATES, status & 0x07);
}

// The family byte; 0xFE: the family 2 word at 0x28 (2.6 on) holds it.
inline PyObject* processor_family(Reader& reader, const Structure& s, const Row&) {
    const std::uint64_t family = read_raw(s, reader.at(), 1);
    if (family != 0xFE) return reader.name(PROCESSOR_FAMILIES, family);
    return holds(s, 0x28, 2) ? reader.name(PROCESSOR_FAMILIES, read_raw(s, 0x28, 2)) : none();
}

// Voltage: bit 7 set, bits 6:0 are the current voltage in tenths of a volt;
// clear, bits 0-2 flag the supported 5 V, 3.3 V and 2.9 V (bit 3 and bits
// 4-6 reserved): their list in mV, or null when no bit is set.
inline PyObject* processor_voltage(Reader& reader, const Structure& s, const Row&) {
    const std::uint64_t code = read_raw(s, reader.at(), 1);
    if (code & 0x80) return integer((code & 0x7F) * 100);
    if ((code & 0x07) == 0) return none();
    static constexpr unsigned LEGACY_MV[] = {5000, 3300, 2900};
    const Py_ssize_t size = static_cast<Py_ssize_t>((code & 1u) + (code >> 1 & 1u) + (code >> 2 & 1u));
    OwnedRef list = OwnedRef::checked(PyList_New(size));
    Py_ssize_t n = 0;
    for (unsigned bit = 0; bit < 3; ++bit)
        if ((code >> bit & 1u) != 0) PyList_SET_ITEM(list.get(), n++, check(integer(LEGACY_MV[bit])));
    return list.release();
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
    custom("status", "Status", 0x18, 1, processor_status, Shape::Enum, &PROCESSOR_STATES).own_bytes_only(),
    string("serial_number", "Serial Number", 0x20),
    string("part_number", "Part Number", 0x22),
    enumeration("type", "Type", 0x05, 1, PROCESSOR_TYPES),
    // The family 2 word as the extended field: a repeat compares it too.
    custom("family", "Family", 0x06, 1, processor_family, Shape::Enum, &PROCESSOR_FAMILIES)
        .extended(0x28, 2)
        .own_bytes_only(),
    hex("id", "ID", 0x08, 8),
    custom("voltage_mv", "Voltage", 0x11, 1, processor_voltage, Shape::IntOrIntList),
    speed("external_clock_mhz", "External Clock", 0x12, 2),
    enumeration("upgrade", "Upgrade", 0x19, 1, PROCESSOR_UPGRADES),
    handle("l1_cache_handle", "L1 Cache Handle", 0x1A),
    handle("l2_cache_handle", "L2 Cache Handle", 0x1C),
    handle("l3_cache_handle", "L3 Cache Handle", 0x1E),
    string("asset_tag", "Asset Tag", 0x21),
    bits("characteristics", "Characteristics", 0x26, 2, PROCESSOR_CHARACTERISTICS),
    integer("thread_enabled", "Thread Enabled", 0x30, 2).unknown(0, 0xFFFF),
    string("socket_type", "Socket Type", 0x32),
};
inline constexpr TypeRows PROCESSOR_ROWS = rows(PROCESSOR_FIELDS, nullptr, tally_processor);

}  // namespace brantel::inventory::decoded
