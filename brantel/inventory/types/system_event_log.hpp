// Type 15: System Event Log.
#pragma once

#include "../decoded_fields.hpp"
#include "../names/event_log.hpp"

namespace brantel::inventory::decoded {

inline constexpr Row SYSTEM_EVENT_LOG_FIELDS[] = {
    integer("log_area_length_bytes", "Log Area Length", 0x04, 2),
    integer("log_header_start_offset", "Log Header Start Offset", 0x06, 2),
    integer("log_data_start_offset", "Log Data Start Offset", 0x08, 2),
    enumeration("access_method", "Access Method", 0x0A, 1, names::EVENT_LOG_ACCESS_METHOD),
    bits("log_status", "Log Status", 0x0B, 1, names::EVENT_LOG_STATUS),
    integer("log_change_token", "Log Change Token", 0x0C, 4),
    // Indexed I/O: index port in the low word, data port in the high word;
    // memory-mapped: the address; GPNV: the handle in the low word.
    integer("access_method_address", "Access Method Address", 0x10, 4),
    enumeration("log_header_format", "Log Header Format", 0x14, 1, names::EVENT_LOG_HEADER_FORMAT),
    integer("number_of_supported_log_type_descriptors", "Number of Supported Log Type Descriptors", 0x15, 1),
    integer("length_of_each_log_type_descriptor", "Length of each Log Type Descriptor", 0x16, 1),
};
inline constexpr Row LOG_TYPE_DESCRIPTOR_FIELDS[] = {
    enumeration("log_type", "Log Type", 0x00, 1, names::EVENT_LOG_TYPE),
    enumeration("variable_data_format_type", "Variable Data Format Type", 0x01, 1, names::EVENT_LOG_DATA_FORMAT),
};
inline constexpr Items SYSTEM_EVENT_LOG_ITEMS =
    items("supported_log_type_descriptors", "List of Supported Event Log Type Descriptors", 0x17, 0x15, 0x16, 2,
          LOG_TYPE_DESCRIPTOR_FIELDS);
inline constexpr TypeRows SYSTEM_EVENT_LOG_ROWS = rows(SYSTEM_EVENT_LOG_FIELDS, &SYSTEM_EVENT_LOG_ITEMS);

}  // namespace brantel::inventory::decoded
