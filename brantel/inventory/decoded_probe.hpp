// A table of one row of every value kind, read from OEM type 200 by
// _inventory_decoder._probe() only: the tests of the engine's kinds, item
// rules and length guards, independent of any structure type's table.
#pragma once

#include "decoded_fields.hpp"
#include "decoded_values.hpp"

namespace brantel::inventory::decoded {

inline constexpr std::uint8_t PROBE_TYPE = 200;

inline constexpr CodeName PROBE_NAME_ROWS[] = {{0, "zero"}, {1, "one"}, {3, "three"}, {9, "nine"}, {63, "sixty-three"}};
inline constexpr NameTable PROBE_NAMES = name_table(PROBE_NAME_ROWS);

// The byte at the row's offset, doubled: a custom row.
inline PyObject* probe_double(Reader& reader, const Structure& s, const Row&) {
    return integer(2 * read_raw(s, reader.at(), 1));
}

inline constexpr Row PROBE_ITEM_FIELDS[] = {
    integer("value", "Value", 0x00, 1),
    handle("target_handle", "Target", 0x01),
    custom("doubled", "Doubled", 0x00, 1, probe_double, Shape::Int),
};

inline constexpr Row PROBE_FIELDS[] = {
    integer("integer", "Integer", 0x04, 2),
    integer("known", "Known", 0x06, 1).unknown(0, 0xFF),
    integer("nibble_plus_one", "Nibble", 0x07, 1).masked(0xF0, 4).plus(1),
    integer("wide", "Wide", 0x08, 8),
    string("text", "Text", 0x10),
    enumeration("name", "Name", 0x11, 1, PROBE_NAMES).masked(0x7F),
    bits("bit_names", "Bits", 0x12, 8, PROBE_NAMES),
    flag("flag", "Flag", 0x1A, 1, 0x04),
    size("size_bytes", "Size", 0x1B, 2, KIB).masked(0x7FFF).coarse(0x8000, 64 * KIB),
    size("big_size_bytes", "Big Size", 0x1D, 4, MIB).extended(0x08, 8, 0xFFFFFFFF, ~std::uint64_t{0}),
    size("capacity_bytes", "Capacity", 0x1D, 4, KIB).extended(0x08, 8, 0xFFFFFFFF, ~std::uint64_t{0}, 1),
    speed("speed_mts", "Speed", 0x21, 2).extended(0x23, 4),
    voltage("voltage_mv", "Voltage", 0x27, 2, 1),
    voltage("tenths_mv", "Tenths", 0x29, 1, 100),
    handle("other_handle", "Other Handle", 0x2A),
    bus_address("bus_address", "Bus Address", 0x2C),
    uuid("uuid", "UUID", 0x30),
    hex("id", "ID", 0x30, 8),
    string_list("strings", "Strings"),
    version("byte_version", "Byte Version", 0x40, 2),
    version("nibble_version", "Nibble Version", 0x42, 1).unknown(0xFF),
    custom("doubled", "Doubled", 0x43, 1, probe_double, Shape::Int),
    string("after", "After", 0x46).after_items(),
};
// Items: count at 0x44, size at 0x45, from 0x46; the `after` string follows them.
inline constexpr Items PROBE_ITEMS = items("entries", "Entries", 0x46, 0x44, 0x45, 0, PROBE_ITEM_FIELDS);
inline constexpr TypeRows PROBE_ROWS = rows(PROBE_FIELDS, &PROBE_ITEMS);
inline constexpr TypeEntry PROBE_ENTRY{PROBE_TYPE, "probes", "Probe", Place::List, &PROBE_ROWS};

}  // namespace brantel::inventory::decoded
