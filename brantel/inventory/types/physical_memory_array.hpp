// Type 16: Physical Memory Array.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_totals.hpp"
#include "../decoded_values.hpp"
#include "../names/memory.hpp"

namespace brantel::inventory::decoded {

// Maximum capacity in KiB; 0x80000000 means the size is in the 8-byte
// extended field (bytes, 2.7 on), which a shorter structure lacks: null.
inline PyObject* array_capacity(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t kib = read_raw(s, row.offset, 4);
    if (kib != 0x80000000) return product(kib, KIB);
    if (!holds(s, 0x0F, 8)) return none();
    return integer(read_raw(s, 0x0F, 8));
}

inline constexpr Row PHYSICAL_MEMORY_ARRAY_FIELDS[] = {
    enumeration("location", "Location", 0x04, 1, names::MEMORY_ARRAY_LOCATIONS),
    enumeration("use", "Use", 0x05, 1, names::MEMORY_ARRAY_USES),
    enumeration("error_correction_type", "Memory Error Correction", 0x06, 1, names::MEMORY_ERROR_CORRECTIONS),
    custom("maximum_capacity_bytes", "Maximum Capacity", 0x07, 4, array_capacity, Shape::Int),
    handle("error_information_handle", "Memory Error Information Handle", 0x0B),
    integer("number_of_devices", "Number of Memory Devices", 0x0D, 2),
};
inline constexpr TypeRows PHYSICAL_MEMORY_ARRAY_ROWS =
    rows(PHYSICAL_MEMORY_ARRAY_FIELDS, nullptr, tally_physical_memory_array);

}  // namespace brantel::inventory::decoded
