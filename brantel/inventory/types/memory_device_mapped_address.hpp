// Type 20: Memory Device Mapped Address.
#pragma once

#include "../decoded_fields.hpp"
#include "address_range.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MEMORY_DEVICE_MAPPED_ADDRESS_FIELDS[] = {
    // The extended start and end (8 bytes each) sit at 0x13.
    custom("starting_address", "Starting Address", 0x04, 8, range_start, Shape::Int).extended(0x13, 16),
    custom("ending_address", "Ending Address", 0x04, 8, range_end, Shape::Int).extended(0x13, 16),
    custom("range_size_bytes", "Range Size", 0x04, 8, range_size, Shape::Int).extended(0x13, 16),
    handle("device_handle", "Memory Device Handle", 0x0C),
    handle("array_mapped_address_handle", "Memory Array Mapped Address Handle", 0x0E),
    // 0 is reserved and 0xFF unknown; 0 below is a fact: not interleaved.
    integer("partition_row_position", "Partition Row Position", 0x10, 1).unknown(0, 0xFF),
    integer("interleave_position", "Interleave Position", 0x11, 1).unknown(0xFF),
    integer("interleaved_data_depth", "Interleaved Data Depth", 0x12, 1).unknown(0xFF),
};
inline constexpr TypeRows MEMORY_DEVICE_MAPPED_ADDRESS_ROWS = rows(MEMORY_DEVICE_MAPPED_ADDRESS_FIELDS);

}  // namespace brantel::inventory::decoded
