// Type 46: String Property.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/firmware.hpp"

namespace brantel::inventory::decoded {

// An ID of the BIOS vendor's or the OEM's range reads as its range's first.
inline PyObject* string_property_id(Reader& reader, const Structure& s, const Row& row) {
    std::uint64_t id = read_raw(s, row.offset, 2);
    if (id >= names::STRING_PROPERTY_ID_OEM)
        id = names::STRING_PROPERTY_ID_OEM;
    else if (id >= names::STRING_PROPERTY_ID_BIOS_VENDOR)
        id = names::STRING_PROPERTY_ID_BIOS_VENDOR;
    return reader.name(*row.names, id);
}

inline constexpr Row STRING_PROPERTY_FIELDS[] = {
    custom("string_property_id", "String Property ID", 0x04, 2, string_property_id, Shape::Enum,
           &names::STRING_PROPERTY_ID),
    string("string_property_value", "String Property Value", 0x06),
    handle("parent_handle", "Parent Handle", 0x07),
};
inline constexpr TypeRows STRING_PROPERTY_ROWS = rows(STRING_PROPERTY_FIELDS);

}  // namespace brantel::inventory::decoded
