// Type 9: System Slots.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/slots.hpp"

namespace brantel::inventory::decoded {

// Both characteristics bytes as one list: the first (0x0B) always, the
// second (0x0C, 2.1 on) where the structure holds it, as bits 8-15.
inline PyObject* slot_characteristics(Reader& reader, const Structure& s, const Row& row) {
    std::uint64_t flags = read_raw(s, row.offset, 1);
    if (holds(s, row.offset + 1u, 1)) flags |= read_raw(s, row.offset + 1u, 1) << 8;
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (std::size_t k = 0; k < names::SLOT_CHARACTERISTICS.count; ++k) {
        const CodeName& bit = names::SLOT_CHARACTERISTICS.rows[k];
        if ((flags >> bit.code & 1u) == 0) continue;
        OwnedRef name = OwnedRef::checked(reader.name(names::SLOT_CHARACTERISTICS, bit.code));
        check_status(PyList_Append(list.get(), name.get()));
    }
    return list.release();
}

// A peer group: segment, bus, device/function and electrical width.
inline constexpr Row SLOT_PEER_FIELDS[] = {
    bus_address("bus_address", "Bus Address", 0x00),
    integer("data_bus_width", "Data Bus Width", 0x04, 1),
};
// Peer grouping count at 0x12, then 5 bytes per group (3.2 on).
inline constexpr Items SLOT_PEERS = items("peer_devices", "Peer Device", 0x13, 0x12, 0, 5, SLOT_PEER_FIELDS);

inline constexpr Row SYSTEM_SLOT_FIELDS[] = {
    string("designation", "Slot Designation", 0x04),
    enumeration("type", "Slot Type", 0x05, 1, names::SLOT_TYPES),
    enumeration("data_bus_width", "Slot Data Bus Width", 0x06, 1, names::SLOT_WIDTHS),
    enumeration("current_usage", "Current Usage", 0x07, 1, names::SLOT_USAGES),
    enumeration("length", "Slot Length", 0x08, 1, names::SLOT_LENGTHS),
    integer("slot_id", "Slot ID", 0x09, 2),
    custom("characteristics", "Slot Characteristics", 0x0B, 1, slot_characteristics, Shape::TextList,
           &names::SLOT_CHARACTERISTICS),
    // No PCI address: 0xFF in every field, the segment read as a word (all ones)
    // or as a byte (0x00FF), as firmware writes both.
    bus_address("bus_address", "Bus Address", 0x0D).unknown(0xFFFF00FF),
    integer("base_data_bus_width", "Data Bus Width", 0x11, 1),
    integer("peer_grouping_count", "Peer Grouping Count", 0x12, 1),
    // 3.4 on, after the peer groups.
    integer("slot_information", "Slot Information", 0x13, 1).after_items(),
    enumeration("slot_physical_width", "Slot Physical Width", 0x14, 1, names::SLOT_WIDTHS).after_items(),
    // In 1/100 mm, given here in micrometres; 0: not given.
    size("slot_pitch_um", "Slot Pitch", 0x15, 2, 10).unknown(0).after_items(),
    // 3.5 on.
    enumeration("slot_height", "Slot Height", 0x17, 1, names::SLOT_HEIGHTS).after_items(),
};
inline constexpr TypeRows SYSTEM_SLOT_ROWS = rows(SYSTEM_SLOT_FIELDS, &SLOT_PEERS);

}  // namespace brantel::inventory::decoded
