// Type 2: Baseboard (or Module) Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/baseboard.hpp"

namespace brantel::inventory::decoded {

// The contained object handles: as many as the count byte says and the
// structure holds.
inline PyObject* contained_object_handles(Reader& reader, const Structure& s, const Row&) {
    const std::size_t at = reader.at(), count = s.bytes[at];
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (std::size_t k = 0; k < count && holds(s, at + 1 + 2 * k, 2); ++k) {
        OwnedRef handle = OwnedRef::checked(integer(read_raw(s, at + 1 + 2 * k, 2)));
        if (PyList_Append(list.get(), handle.get()) < 0) throw PyError();
    }
    return list.release();
}

inline constexpr Row BASEBOARD_FIELDS[] = {
    string("manufacturer", "Manufacturer", 0x04),
    string("product", "Product Name", 0x05),
    string("version", "Version", 0x06),
    string("serial_number", "Serial Number", 0x07),
    string("asset_tag", "Asset Tag", 0x08),
    enumeration("type", "Type", 0x0D, 1, BOARD_TYPES),
    bits("feature_flags", "Features", 0x09, 1, BOARD_FEATURES),
    string("location_in_chassis", "Location In Chassis", 0x0A),
    handle("chassis_handle", "Chassis Handle", 0x0B),
    integer("number_of_contained_object_handles", "Contained Object Handles", 0x0E, 1),
    custom("contained_object_handles", "Contained Object Handles", 0x0E, 1, contained_object_handles, Shape::IntList),
};
inline constexpr TypeRows BASEBOARD_ROWS = rows(BASEBOARD_FIELDS);

}  // namespace brantel::inventory::decoded
