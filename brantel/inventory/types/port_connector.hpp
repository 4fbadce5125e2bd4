// Type 8: Port Connector Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/connectors.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row PORT_CONNECTOR_FIELDS[] = {
    string("internal_reference_designator", "Internal Reference Designator", 0x04),
    enumeration("internal_connector_type", "Internal Connector Type", 0x05, 1, names::CONNECTOR_TYPES),
    string("external_reference_designator", "External Reference Designator", 0x06),
    enumeration("external_connector_type", "External Connector Type", 0x07, 1, names::CONNECTOR_TYPES),
    enumeration("port_type", "Port Type", 0x08, 1, names::PORT_TYPES),
};
inline constexpr TypeRows PORT_CONNECTOR_ROWS = rows(PORT_CONNECTOR_FIELDS);

}  // namespace brantel::inventory::decoded
