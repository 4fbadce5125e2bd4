// Type 37: Memory Channel.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/memory.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MEMORY_CHANNEL_DEVICE_FIELDS[] = {
    integer("load", "Memory Device Load", 0x00, 1),
    handle("memory_device_handle", "Memory Device Handle", 0x01),
};
// Memory device count at 0x06, then 3 bytes per device.
inline constexpr Items MEMORY_CHANNEL_DEVICES =
    items("devices", "Memory Device", 0x07, 0x06, 0, 3, MEMORY_CHANNEL_DEVICE_FIELDS);

inline constexpr Row MEMORY_CHANNEL_FIELDS[] = {
    enumeration("channel_type", "Channel Type", 0x04, 1, names::MEMORY_CHANNEL_TYPES),
    integer("maximum_channel_load", "Maximum Channel Load", 0x05, 1),
    integer("memory_device_count", "Memory Device Count", 0x06, 1),
};
inline constexpr TypeRows MEMORY_CHANNEL_ROWS = rows(MEMORY_CHANNEL_FIELDS, &MEMORY_CHANNEL_DEVICES);

}  // namespace brantel::inventory::decoded
