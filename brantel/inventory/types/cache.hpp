// Type 7: Cache Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/cache.hpp"

namespace brantel::inventory::decoded {

// A size word (bit 15: 64 KiB units, else 1 KiB; bits 14:0 the count) and its
// double word of 3.1 (bit 31: 64 KiB units, else 1 KiB; bits 30:0), which
// holds the size when the word is 0xFFFF. 0 is a cache not installed: 0 bytes.
inline PyObject* cache_size_of(const Structure& s, std::size_t word_at, std::size_t extended_at) {
    const std::uint64_t word = read_raw(s, word_at, 2);
    if (word == 0xFFFF && holds(s, extended_at, 4)) {
        const std::uint64_t extended = read_raw(s, extended_at, 4);
        return integer((extended & 0x7FFFFFFF) * (extended & 0x80000000 ? 64 * KIB : KIB));
    }
    return integer((word & 0x7FFF) * (word & 0x8000 ? 64 * KIB : KIB));
}
inline PyObject* cache_maximum_size(Reader& reader, const Structure& s, const Row&) {
    return cache_size_of(s, reader.at(), 0x13);
}
inline PyObject* cache_installed_size(Reader& reader, const Structure& s, const Row&) {
    return cache_size_of(s, reader.at(), 0x17);
}

inline constexpr Row CACHE_FIELDS[] = {
    string("socket_designation", "Socket Designation", 0x04),
    // The configuration word: level (bits 2:0, plus one), socketed (bit 3),
    // location (bits 6:5), enabled (bit 7), operational mode (bits 9:8).
    integer("level", "Configuration", 0x05, 2).masked(0x0007).plus(1),
    flag("socketed", "Configuration", 0x05, 2, 0x0008),
    enumeration("location", "Location", 0x05, 2, CACHE_LOCATIONS).masked(0x0060, 5),
    flag("enabled", "Configuration", 0x05, 2, 0x0080),
    enumeration("operational_mode", "Operational Mode", 0x05, 2, CACHE_OPERATIONAL_MODES).masked(0x0300, 8),
    custom("maximum_size_bytes", "Maximum Size", 0x07, 2, cache_maximum_size, Shape::Int),
    custom("installed_size_bytes", "Installed Size", 0x09, 2, cache_installed_size, Shape::Int),
    bits("supported_sram_types", "Supported SRAM Types", 0x0B, 2, CACHE_SRAM_TYPES),
    bits("current_sram_type", "Installed SRAM Type", 0x0D, 2, CACHE_SRAM_TYPES),
    integer("speed_ns", "Speed", 0x0F, 1).unknown(0),
    enumeration("error_correction_type", "Error Correction Type", 0x10, 1, CACHE_ERROR_CORRECTION_TYPES),
    enumeration("system_cache_type", "System Type", 0x11, 1, CACHE_SYSTEM_TYPES),
    enumeration("associativity", "Associativity", 0x12, 1, CACHE_ASSOCIATIVITY),
};
inline constexpr TypeRows CACHE_ROWS = rows(CACHE_FIELDS);

}  // namespace brantel::inventory::decoded
