// The address range of the memory array (type 19) and memory device (type 20)
// mapped address structures: a start and an end in KiB (4 bytes each from
// 0x04), or, when the start reads 0xFFFFFFFF, a start and an end in bytes (8
// bytes each from the row's extended offset, 2.7 on). The end is the address
// of the range's last byte.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"

namespace brantel::inventory::decoded {

struct AddressRange {
    bool known = false;
    std::uint64_t start = 0, end = 0;
};

inline AddressRange address_range(const Structure& s, const Row& row) {
    AddressRange range;
    const std::uint64_t start = read_raw(s, 0x04, 4);
    if (start == 0xFFFFFFFF) {
        if (!holds(s, row.ext_offset, 16)) return range;
        range.start = read_raw(s, row.ext_offset, 8);
        range.end = read_raw(s, row.ext_offset + 8u, 8);
    } else {
        range.start = start * KIB;
        range.end = read_raw(s, 0x08, 4) * KIB + (KIB - 1);
    }
    range.known = true;
    return range;
}

inline PyObject* range_start(Reader&, const Structure& s, const Row& row) {
    const AddressRange range = address_range(s, row);
    return range.known ? integer(range.start) : none();
}

inline PyObject* range_end(Reader&, const Structure& s, const Row& row) {
    const AddressRange range = address_range(s, row);
    return range.known ? integer(range.end) : none();
}

// end - start + 1; null when the end lies below the start. A range of all
// 2^64 addresses does not fit 64 bits.
inline PyObject* range_size(Reader&, const Structure& s, const Row& row) {
    const AddressRange range = address_range(s, row);
    if (!range.known || range.end < range.start) return none();
    const std::uint64_t span = range.end - range.start;
    if (span != UINT64_MAX) return integer(span + 1);
    return product(std::uint64_t{1} << 32, std::uint64_t{1} << 32);
}

}  // namespace brantel::inventory::decoded
