// Type 42: Management Controller Host Interface.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/management.hpp"
#include "record_lists.hpp"

namespace brantel::inventory::decoded {

// The interface's own data: n bytes (n at 0x05) from 0x06, cut at the length.
inline PyObject* host_interface_data(Reader&, const Structure& s, const Row& row) {
    std::size_t size = s.bytes[row.offset];
    if (!holds(s, 0x06, size)) size = s.length > 0x06 ? s.length - 0x06 : 0;
    return Reader::hex(s.bytes + 0x06, size);
}

// After the interface data: a count, then records of protocol type (1),
// data length (1) and data. A record past the structure ends the list.
inline PyObject* host_interface_protocols(Reader& reader, const Structure& s, const Row& row) {
    OwnedRef records = OwnedRef::checked(PyList_New(0));
    std::size_t at = 0x06 + std::size_t{s.bytes[row.offset]};
    if (!holds(s, at, 1)) return records.release();
    const unsigned count = s.bytes[at++];
    for (unsigned k = 0; k < count; ++k) {
        if (!holds(s, at, 2) || !holds(s, at + 2, s.bytes[at + 1])) {
            reader.warn("structure at offset %zu (type %u, handle 0x%04X): protocol record %u does not fit the "
                        "structure",
                        s.offset, unsigned{s.type}, unsigned{s.handle}, k + 1);
            break;
        }
        OwnedRef record = OwnedRef::checked(PyDict_New());
        put(record.get(), "protocol_type", reader.name(names::HOST_INTERFACE_PROTOCOL, s.bytes[at]));
        put(record.get(), "protocol_type_specific_data", Reader::hex(s.bytes + at + 2, s.bytes[at + 1]));
        if (PyList_Append(records.get(), record.get()) < 0) throw PyError();
        at += 2 + std::size_t{s.bytes[at + 1]};
    }
    return records.release();
}

inline constexpr Row MANAGEMENT_CONTROLLER_HOST_INTERFACE_FIELDS[] = {
    enumeration("interface_type", "Interface Type", 0x04, 1, names::HOST_INTERFACE_TYPE),
    integer("interface_type_specific_data_length", "Interface Type Specific Data Length", 0x05, 1),
    custom("interface_type_specific_data", "Interface Type Specific Data", 0x05, 1, host_interface_data, Shape::Text),
    custom("protocol_records", "Protocol Records", 0x05, 1, host_interface_protocols, Shape::Records,
           &names::HOST_INTERFACE_PROTOCOL),
};
inline constexpr TypeRows MANAGEMENT_CONTROLLER_HOST_INTERFACE_ROWS = rows(MANAGEMENT_CONTROLLER_HOST_INTERFACE_FIELDS);

}  // namespace brantel::inventory::decoded
