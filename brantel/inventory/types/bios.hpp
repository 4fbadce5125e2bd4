// Type 0: BIOS Information. The first one is the machine's (`bios`); a later
// one is a generic record in other_structures.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/bios.hpp"

namespace brantel::inventory::decoded {

// ROM size: 64 KiB x (n + 1); 0xFF (3.1 on) sends the reader to the extended
// size word, whose bits 15:14 give the unit (MiB, GiB; others reserved) of
// bits 13:0. A structure too short for that word keeps the older reading of
// 0xFF, 16 MiB.
inline PyObject* bios_rom_size(Reader& reader, const Structure& s, const Row&) {
    const std::uint64_t code = read_raw(s, reader.at(), 1);
    if (code != 0xFF) return integer((code + 1) * 64 * KIB);
    if (!holds(s, 0x18, 2)) return integer(16 * MIB);
    const std::uint64_t extended = read_raw(s, 0x18, 2);
    const unsigned unit = unsigned(extended >> 14);
    if (unit > 1) return none();
    return integer((extended & 0x3FFF) * (unit == 0 ? MIB : GIB));
}

// The runtime image runs from the starting segment to the 1 MiB line; a
// segment of 0 (firmware that has no such image) leaves it unknown.
inline PyObject* bios_runtime_size(Reader& reader, const Structure& s, const Row&) {
    const std::uint64_t segment = read_raw(s, reader.at(), 2);
    if (segment == 0) return none();
    return integer((0x10000 - segment) * 16);
}

inline constexpr Row BIOS_FIELDS[] = {
    string("vendor", "Vendor", 0x04),
    string("version", "Version", 0x05),
    string("release_date", "Release Date", 0x08),
    integer("starting_address_segment", "Address", 0x06, 2).unknown(0),
    custom("runtime_size_bytes", "Runtime Size", 0x06, 2, bios_runtime_size, Shape::Int),
    custom("rom_size_bytes", "ROM Size", 0x09, 1, bios_rom_size, Shape::Int),
    bits("characteristics", "Characteristics", 0x0A, 8, BIOS_CHARACTERISTICS),
    bits("characteristics_extension_byte_1", "Characteristics", 0x12, 1, BIOS_CHARACTERISTICS_EXT1),
    bits("characteristics_extension_byte_2", "Characteristics", 0x13, 1, BIOS_CHARACTERISTICS_EXT2),
    // Major and minor release bytes; 0xFF in both: not supported.
    version("system_bios_release", "BIOS Revision", 0x14, 2).unknown(0xFFFF),
    version("embedded_controller_firmware_release", "Firmware Revision", 0x16, 2).unknown(0xFFFF),
};
inline constexpr TypeRows BIOS_ROWS = rows(BIOS_FIELDS);

}  // namespace brantel::inventory::decoded
