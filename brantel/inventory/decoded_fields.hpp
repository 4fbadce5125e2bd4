// The row format of the decoded inventory: one constexpr row per JSON key, read
// by one engine (decoder.cpp) through value kinds implemented once each
// (decoded_values.cpp).
//
// How to add a structure type
// ---------------------------
// 1. Fill in its file under types/ (every type 0-46 has one; an undecoded
//    type's file says `NOT_DECODED`). Write its rows in offset order:
//
//      inline constexpr Row CACHE_FIELDS[] = {
//          string("socket_designation", "Socket Designation", 0x04),
//          integer("level", "Configuration", 0x05, 2).masked(0x0007).plus(1),
//          flag("enabled", "Configuration", 0x05, 2, 0x0080),
//          enumeration("location", "Location", 0x05, 2, CACHE_LOCATIONS).masked(0x0060, 5),
//          size("installed_size_bytes", "Installed Size", 0x09, 2, KIB).masked(0x7FFF).coarse(0x8000, 64 * KIB),
//          bits("supported_sram_types", "Supported SRAM Types", 0x0B, 2, SRAM_TYPES),
//          integer("speed_ns", "Speed", 0x0F, 1).unknown(0),
//          speed("max_speed_mhz", "Max Speed", 0x14, 2),              // 0: null
//          speed("speed_mts", "Speed", 0x15, 2).extended(0x54, 4),   // 0xFFFF: the 4-byte field
//          voltage("minimum_voltage_mv", "Minimum Voltage", 0x22, 2, 1),  // mV per unit
//          handle("array_handle", "Array Handle", 0x04),              // 0xFFFE/0xFFFF: null
//          bus_address("bus_address", "Bus Address", 0x0D),           // "SSSS:BB:DD.F"; all ones: null
//          uuid("uuid", "UUID", 0x08),  hex("id", "ID", 0x08, 8),
//          string_list("strings", "String"),                          // every string of the set
//          version("specification_version", "Specification Version", 0x04, 1),  // nibbles; 2: two bytes
//          custom("size_bytes", "Size", 0x0C, 2, memory_device_size, Shape::Int),
//      };
//      inline constexpr TypeRows CACHE_ROWS = rows(CACHE_FIELDS);
//
//    Key: the reference's field name in snake_case with the unit in the key
//    (_bytes, _mhz, _mts, _mv, _ns, _w, _rpm, _bits); `handle` is added to
//    every record by the engine. Label: the reference's field name, as the
//    text report and the peer comparison look it up (nullptr: not compared).
//    The guard (minimum formatted length) is offset + width unless
//    `.min_length(n)` says otherwise; below it the value is null.
//    Modifiers: .unknown(a[, b[, c]]) raw values meaning null; .masked(mask,
//    shift); .extended(offset, width[, when, mask]) read another field when the
//    value is `when` (its own unit as 5th argument); .units(n); .coarse(bit,
//    unit); .plus(n); .after_items()
//    for fields placed after the items (chassis SKU). An enumeration code
//    without a name, and a bit without one, give null / are left out.
//    Repeated sub-records: `inline constexpr Items X_ITEMS = items("key", "Label",
//    first, count_at, size_at, size, X_ITEM_FIELDS);` and `rows(X_FIELDS, &X_ITEMS)`
//    (item rows are offsets within one item; count_at 0: as many as the length holds).
//    A truly irregular field: a `custom` row whose function (inline, in the
//    type's file) reads through the Reader of decoded_values.hpp, at
//    reader.at() (the row's offset, moved inside an item or after the items).
//    Its value must depend only on the structure's length, formatted bytes
//    (not the handle), strings and the version: a structure that repeats the
//    last one of its type reuses that record's values (decoder.cpp).
// 2. The registry line of the type (decoded_types.cpp) already names its list
//    key and title; change it only if the key is wrong.
// 3. Name tables: names/*.hpp, one `{code, "name"}` table per enumeration of
//    the reference, ordered by code (code_names.hpp); bit fields keyed by bit
//    number:  inline constexpr CodeName CACHE_LOCATION_ROWS[] = {{0, "Internal"},
//    {1, "External"}, {3, "Unknown"}};  inline constexpr NameTable CACHE_LOCATIONS
//    = name_table(CACHE_LOCATION_ROWS);
// 4. Totals: a tally function (decoded_totals.hpp) as third argument of rows().
// 5. Rebuild, then regenerate the schema:
//      pip install -q -e . && python tools/make_schema.py
//    (tests/test_decoded_schema.py fails when the committed schema and the tables disagree).
// 6. Peer comparison: tests/peer_text.py. A row whose label differs from the
//    peer's line gets one line in ALIASES; a value the per-kind normaliser
//    cannot read gets one line in NORMALISERS; an explained disagreement one
//    line in tests/test_peer_agreement.py's EXPLAINED. See tools/peer_report.py.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "code_names.hpp"
#include "structure_table.hpp"

namespace brantel::inventory::decoded {

class Reader;
struct Row;
struct Totals;

// A custom field: a new reference, or nullptr with an error set.
using CustomFn = PyObject* (*)(Reader&, const Structure&, const Row&);
// Adds a finished record (borrowed) to the totals; throws PyError on error.
using TallyFn = void (*)(Totals&, PyObject* record);

enum class Kind : std::uint8_t {
    Integer,     // unsigned little-endian, 1-8 bytes
    String,      // string number; 0: null; trailing spaces trimmed
    Enum,        // the name of a code (name table)
    Bits,        // names of the set bits (name table keyed by bit number), 1-8 bytes
    Flag,        // one bit: true/false
    Size,        // bytes: value x unit (or x coarse unit when the coarse bit is set)
    Speed,       // MHz or MT/s; 0 null; 0xFFFF: the extended field, else null
    Voltage,     // mV: value x units
    Handle,      // 16-bit handle; 0xFFFE/0xFFFF null
    BusAddress,  // segment (2), bus (1), device/function (1): "SSSS:BB:DD.F"; all ones null
    Uuid,        // 16 bytes, canonical text (byte order by version); all 00 or all FF null
    Hex,         // lower-case hex of `width` bytes, stored order
    StringList,  // every string of the set
    Version,     // "major.minor": two bytes (width 2) or two nibbles (width 1)
    Custom,      // a named function
};

// The JSON shape of a custom row (other kinds imply theirs).
enum class Shape : std::uint8_t { Int, Text, Bool, Enum, IntList, TextList, IntOrIntList, Records, SignedInt };

struct Row {
    const char* key;
    const char* label;
    std::uint8_t offset;
    std::uint8_t width;
    std::uint8_t guard;
    Kind kind;
    Shape shape;
    const NameTable* names;
    std::uint64_t mask;  // 0: the whole value
    std::uint8_t shift;
    std::uint8_t special_count;
    std::uint64_t specials[3];
    std::uint64_t unit;
    std::uint64_t coarse_bit;
    std::uint64_t coarse_unit;
    std::uint64_t add;
    std::uint8_t ext_offset;
    std::uint8_t ext_width;
    std::uint64_t ext_when;
    std::uint64_t ext_mask;
    std::uint64_t ext_unit;  // 0: the row's unit
    bool shifted;
    CustomFn custom;
    bool own_bytes;  // custom: reads no byte but its own and its extended field's

    constexpr Row unknown(std::uint64_t a) const { return with_specials(1, a, 0, 0); }
    constexpr Row unknown(std::uint64_t a, std::uint64_t b) const { return with_specials(2, a, b, 0); }
    constexpr Row unknown(std::uint64_t a, std::uint64_t b, std::uint64_t c) const { return with_specials(3, a, b, c); }
    constexpr Row masked(std::uint64_t bits, std::uint8_t by = 0) const {
        Row r = *this;
        r.mask = bits;
        r.shift = by;
        return r;
    }
    constexpr Row min_length(std::uint8_t length) const {
        Row r = *this;
        r.guard = length;
        return r;
    }
    // When the value is `when`, the value of the `width_`-byte field at
    // `offset_` (masked by `bits`, in `unit`s: 0 keeps the row's unit) where
    // the structure holds it.
    constexpr Row extended(std::uint8_t offset_, std::uint8_t width_, std::uint64_t when = 0xFFFF,
                           std::uint64_t bits = 0x7FFFFFFF, std::uint64_t unit_ = 0) const {
        Row r = *this;
        r.ext_offset = offset_;
        r.ext_width = width_;
        r.ext_when = when;
        r.ext_mask = bits;
        r.ext_unit = unit_;
        return r;
    }
    constexpr Row units(std::uint64_t n) const {
        Row r = *this;
        r.unit = n;
        return r;
    }
    constexpr Row coarse(std::uint64_t bit, std::uint64_t n) const {
        Row r = *this;
        r.coarse_bit = bit;
        r.coarse_unit = n;
        return r;
    }
    constexpr Row plus(std::uint64_t n) const {
        Row r = *this;
        r.add = n;
        return r;
    }
    // A custom function that reads only the row's bytes and, where the
    // structure holds it, the extended field: a repeated structure reads it
    // again only when those differ.
    constexpr Row own_bytes_only() const {
        Row r = *this;
        r.own_bytes = true;
        return r;
    }
    constexpr Row after_items() const {
        Row r = *this;
        r.shifted = true;
        return r;
    }

private:
    constexpr Row with_specials(std::uint8_t n, std::uint64_t a, std::uint64_t b, std::uint64_t c) const {
        Row r = *this;
        r.special_count = n;
        r.specials[0] = a;
        r.specials[1] = b;
        r.specials[2] = c;
        return r;
    }
};

inline constexpr std::uint64_t KIB = 1024, MIB = 1024 * KIB, GIB = 1024 * MIB;

namespace rows_detail {
constexpr Row row(const char* key, const char* label, std::uint8_t offset, std::uint8_t width, Kind kind,
                  Shape shape, const NameTable* names = nullptr) {
    return Row{key, label, offset, width, static_cast<std::uint8_t>(offset + width), kind, shape, names,
               0, 0, 0, {0, 0, 0}, 1, 0, 0, 0, 0, 0, 0, 0, 0, false, nullptr, false};
}
}  // namespace rows_detail

constexpr Row integer(const char* key, const char* label, std::uint8_t offset, std::uint8_t width) {
    return rows_detail::row(key, label, offset, width, Kind::Integer, Shape::Int);
}
constexpr Row string(const char* key, const char* label, std::uint8_t offset) {
    return rows_detail::row(key, label, offset, 1, Kind::String, Shape::Text);
}
constexpr Row enumeration(const char* key, const char* label, std::uint8_t offset, std::uint8_t width,
                          const NameTable& names) {
    return rows_detail::row(key, label, offset, width, Kind::Enum, Shape::Enum, &names);
}
constexpr Row bits(const char* key, const char* label, std::uint8_t offset, std::uint8_t width,
                   const NameTable& names) {
    return rows_detail::row(key, label, offset, width, Kind::Bits, Shape::TextList, &names);
}
constexpr Row flag(const char* key, const char* label, std::uint8_t offset, std::uint8_t width, std::uint64_t bit) {
    return rows_detail::row(key, label, offset, width, Kind::Flag, Shape::Bool).masked(bit);
}
constexpr Row size(const char* key, const char* label, std::uint8_t offset, std::uint8_t width, std::uint64_t unit) {
    return rows_detail::row(key, label, offset, width, Kind::Size, Shape::Int).units(unit);
}
constexpr Row speed(const char* key, const char* label, std::uint8_t offset, std::uint8_t width) {
    return rows_detail::row(key, label, offset, width, Kind::Speed, Shape::Int).unknown(0);
}
constexpr Row voltage(const char* key, const char* label, std::uint8_t offset, std::uint8_t width,
                      std::uint64_t mv_per_unit) {
    return rows_detail::row(key, label, offset, width, Kind::Voltage, Shape::Int).units(mv_per_unit).unknown(0);
}
constexpr Row handle(const char* key, const char* label, std::uint8_t offset) {
    return rows_detail::row(key, label, offset, 2, Kind::Handle, Shape::Int);
}
constexpr Row bus_address(const char* key, const char* label, std::uint8_t offset) {
    return rows_detail::row(key, label, offset, 4, Kind::BusAddress, Shape::Text);
}
constexpr Row uuid(const char* key, const char* label, std::uint8_t offset) {
    return rows_detail::row(key, label, offset, 16, Kind::Uuid, Shape::Text);
}
constexpr Row hex(const char* key, const char* label, std::uint8_t offset, std::uint8_t width) {
    return rows_detail::row(key, label, offset, width, Kind::Hex, Shape::Text);
}
constexpr Row string_list(const char* key, const char* label) {
    return rows_detail::row(key, label, 0, 0, Kind::StringList, Shape::TextList);
}
constexpr Row version(const char* key, const char* label, std::uint8_t offset, std::uint8_t width) {
    return rows_detail::row(key, label, offset, width, Kind::Version, Shape::Text);
}
constexpr Row custom(const char* key, const char* label, std::uint8_t offset, std::uint8_t width, CustomFn fn,
                     Shape shape, const NameTable* names = nullptr) {
    Row r = rows_detail::row(key, label, offset, width, Kind::Custom, shape, names);
    r.custom = fn;
    return r;
}

// Repeated sub-records inside one structure: `count` items of `size` bytes
// from `first`. The count is the byte at count_at (0: as many whole items as
// the formatted length holds), the size the byte at size_at (0: `size`).
// With no key the items only move the rows marked after_items().
struct Items {
    const char* key;
    const char* label;
    std::uint8_t first;
    std::uint8_t count_at;
    std::uint8_t size_at;
    std::uint8_t size;
    const Row* rows;
    std::size_t count;
};

template <std::size_t N>
constexpr Items items(const char* key, const char* label, std::uint8_t first, std::uint8_t count_at,
                      std::uint8_t size_at, std::uint8_t size, const Row (&item_rows)[N]) {
    return Items{key, label, first, count_at, size_at, size, item_rows, N};
}
// Items that only place the rows after them (their list is decoded elsewhere or not at all).
constexpr Items placement_items(std::uint8_t first, std::uint8_t count_at, std::uint8_t size_at) {
    return Items{nullptr, nullptr, first, count_at, size_at, 0, nullptr, 0};
}

// A type's rows; NOT_DECODED: its structures become generic records in other_structures.
struct TypeRows {
    const Row* rows;
    std::size_t count;
    const Items* items;
    TallyFn tally;
};

inline constexpr TypeRows NOT_DECODED{nullptr, 0, nullptr, nullptr};

template <std::size_t N>
constexpr TypeRows rows(const Row (&type_rows)[N], const Items* item_rule = nullptr, TallyFn tally = nullptr) {
    return TypeRows{type_rows, N, item_rule, tally};
}

// Where a type's records go in the document.
enum class Place : std::uint8_t { List, Singleton };

struct TypeEntry {
    std::uint8_t type;
    const char* key;    // the list key (or the singleton's key)
    const char* title;  // the reference's name of the structure
    Place place;
    const TypeRows* rows;
};

}  // namespace brantel::inventory::decoded
