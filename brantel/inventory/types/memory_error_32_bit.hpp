// Type 18: 32-Bit Memory Error Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/memory_errors.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MEMORY_ERROR_32_BIT_FIELDS[] = {
    enumeration("error_type", "Error Type", 0x04, 1, names::MEMORY_ERROR_TYPES),
    enumeration("error_granularity", "Error Granularity", 0x05, 1, names::MEMORY_ERROR_GRANULARITIES),
    enumeration("error_operation", "Error Operation", 0x06, 1, names::MEMORY_ERROR_OPERATIONS),
    integer("vendor_syndrome", "Vendor Syndrome", 0x07, 4).unknown(0),
    // 0x80000000: unknown.
    integer("memory_array_error_address", "Memory Array Error Address", 0x0B, 4).unknown(0x80000000),
    integer("device_error_address", "Device Error Address", 0x0F, 4).unknown(0x80000000),
    integer("error_resolution_bytes", "Error Resolution", 0x13, 4).unknown(0x80000000),
};
inline constexpr TypeRows MEMORY_ERROR_32_BIT_ROWS = rows(MEMORY_ERROR_32_BIT_FIELDS);

}  // namespace brantel::inventory::decoded
