// Type 32: System Boot Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/system_controls.hpp"

namespace brantel::inventory::decoded {

// The boot status is its first byte's code and, for the vendor's and the
// product's codes, up to nine bytes of their own data.
inline constexpr Row SYSTEM_BOOT_FIELDS[] = {
    enumeration("status", "Boot Status", 0x0A, 1, names::BOOT_STATUS),
    hex("status_data", nullptr, 0x0B, 9),
};
inline constexpr TypeRows SYSTEM_BOOT_ROWS = rows(SYSTEM_BOOT_FIELDS);

}  // namespace brantel::inventory::decoded
