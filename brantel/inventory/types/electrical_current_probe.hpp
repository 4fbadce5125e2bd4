// Type 29: Electrical Current Probe.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/probes.hpp"
#include "probe_values.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row ELECTRICAL_CURRENT_PROBE_FIELDS[] = {
    string("description", "Description", 0x04),
    enumeration("location", "Location", 0x05, 1, names::PROBE_LOCATION).masked(0x1F),
    enumeration("status", "Status", 0x05, 1, names::PROBE_STATUS).masked(0xE0, 5),
    reading("maximum_value_ma", "Maximum Value", 0x06),
    reading("minimum_value_ma", "Minimum Value", 0x08),
    integer("resolution_tenths_ma", "Resolution", 0x0A, 2).unknown(0x8000),
    integer("tolerance_ma", "Tolerance", 0x0C, 2).unknown(0x8000),
    integer("accuracy_hundredths_percent", "Accuracy", 0x0E, 2).unknown(0x8000),
    integer("oem_defined", "OEM-defined", 0x10, 4),
    reading("nominal_value_ma", "Nominal Value", 0x14),
};
inline constexpr TypeRows ELECTRICAL_CURRENT_PROBE_ROWS = rows(ELECTRICAL_CURRENT_PROBE_FIELDS);

}  // namespace brantel::inventory::decoded
