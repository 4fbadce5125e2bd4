// Type 34: Management Device.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/management.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MANAGEMENT_DEVICE_FIELDS[] = {
    string("description", "Description", 0x04),
    enumeration("type", "Type", 0x05, 1, names::MANAGEMENT_DEVICE_TYPE),
    integer("address", "Address", 0x06, 4),
    enumeration("address_type", "Address Type", 0x0A, 1, names::MANAGEMENT_DEVICE_ADDRESS_TYPE),
};
inline constexpr TypeRows MANAGEMENT_DEVICE_ROWS = rows(MANAGEMENT_DEVICE_FIELDS);

}  // namespace brantel::inventory::decoded
