// Type 36: Management Device Threshold Data, in the unit of the probe it serves.
#pragma once

#include "../decoded_fields.hpp"
#include "probe_values.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row MANAGEMENT_DEVICE_THRESHOLD_DATA_FIELDS[] = {
    reading("lower_threshold_non_critical", "Lower Threshold - Non-critical", 0x04),
    reading("upper_threshold_non_critical", "Upper Threshold - Non-critical", 0x06),
    reading("lower_threshold_critical", "Lower Threshold - Critical", 0x08),
    reading("upper_threshold_critical", "Upper Threshold - Critical", 0x0A),
    reading("lower_threshold_non_recoverable", "Lower Threshold - Non-recoverable", 0x0C),
    reading("upper_threshold_non_recoverable", "Upper Threshold - Non-recoverable", 0x0E),
};
inline constexpr TypeRows MANAGEMENT_DEVICE_THRESHOLD_DATA_ROWS = rows(MANAGEMENT_DEVICE_THRESHOLD_DATA_FIELDS);

}  // namespace brantel::inventory::decoded
