// Type 28: Temperature Probe. Temperatures in 1/10 degree C, the resolution
// in 1/1000 degree C.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/probes.hpp"
#include "probe_values.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row TEMPERATURE_PROBE_FIELDS[] = {
    string("description", "Description", 0x04),
    enumeration("location", "Location", 0x05, 1, names::TEMPERATURE_PROBE_LOCATION).masked(0x1F),
    enumeration("status", "Status", 0x05, 1, names::PROBE_STATUS).masked(0xE0, 5),
    reading("maximum_value_tenths_c", "Maximum Value", 0x06),
    reading("minimum_value_tenths_c", "Minimum Value", 0x08),
    integer("resolution_thousandths_c", "Resolution", 0x0A, 2).unknown(0x8000),
    integer("tolerance_tenths_c", "Tolerance", 0x0C, 2).unknown(0x8000),
    integer("accuracy_hundredths_percent", "Accuracy", 0x0E, 2).unknown(0x8000),
    integer("oem_defined", "OEM-defined", 0x10, 4),
    reading("nominal_value_tenths_c", "Nominal Value", 0x14),
};
inline constexpr TypeRows TEMPERATURE_PROBE_ROWS = rows(TEMPERATURE_PROBE_FIELDS);

}  // namespace brantel::inventory::decoded
