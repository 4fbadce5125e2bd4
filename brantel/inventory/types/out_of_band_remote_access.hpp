// Type 30: Out-of-Band Remote Access.
#pragma once

#include "../decoded_fields.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row OUT_OF_BAND_REMOTE_ACCESS_FIELDS[] = {
    string("manufacturer_name", "Manufacturer Name", 0x04),
    flag("inbound_connection_enabled", "Inbound Connection", 0x05, 1, 0x01),
    flag("outbound_connection_enabled", "Outbound Connection", 0x05, 1, 0x02),
};
inline constexpr TypeRows OUT_OF_BAND_REMOTE_ACCESS_ROWS = rows(OUT_OF_BAND_REMOTE_ACCESS_FIELDS);

}  // namespace brantel::inventory::decoded
