// Type 19: Memory Array Mapped Address.
#pragma once

#include "../decoded_fields.hpp"
#include "address_range.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MEMORY_ARRAY_MAPPED_ADDRESS_FIELDS[] = {
    // The extended start and end (8 bytes each) sit at 0x0F.
    custom("starting_address", "Starting Address", 0x04, 8, range_start, Shape::Int).extended(0x0F, 16),
    custom("ending_address", "Ending Address", 0x04, 8, range_end, Shape::Int).extended(0x0F, 16),
    custom("range_size_bytes", "Range Size", 0x04, 8, range_size, Shape::Int).extended(0x0F, 16),
    handle("array_handle", "Memory Array Handle", 0x0C),
    integer("partition_width", "Partition Width", 0x0E, 1),
};
inline constexpr TypeRows MEMORY_ARRAY_MAPPED_ADDRESS_ROWS = rows(MEMORY_ARRAY_MAPPED_ADDRESS_FIELDS);

}  // namespace brantel::inventory::decoded
