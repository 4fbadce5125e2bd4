// Type 40: Additional Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "record_lists.hpp"

namespace brantel::inventory::decoded {

// Entries of their own length each: length (1), referenced handle (2),
// referenced offset (1), string (1), value (length - 5 bytes, an integer).
// An entry shorter than its fixed fields or past the structure ends the list.
inline PyObject* additional_information_entries(Reader& reader, const Structure& s, const Row& row) {
    OwnedRef entries = OwnedRef::checked(PyList_New(0));
    std::size_t at = 0x05;
    for (unsigned k = 0; k < s.bytes[row.offset]; ++k) {
        const std::size_t size = holds(s, at, 1) ? s.bytes[at] : 0;
        if (size < 5 || !holds(s, at, size)) {
            reader.warn("structure at offset %zu (type %u, handle 0x%04X): additional information entry %u does "
                        "not fit the structure",
                        s.offset, unsigned{s.type}, unsigned{s.handle}, k + 1);
            break;
        }
        OwnedRef entry = OwnedRef::checked(PyDict_New());
        const std::uint64_t referenced = read_raw(s, at + 1, 2);
        put(entry.get(), "referenced_handle", referenced >= 0xFFFE ? none() : integer(referenced));
        put(entry.get(), "referenced_offset", integer(s.bytes[at + 3]));
        put(entry.get(), "string", reader.text(s, s.bytes[at + 4], "additional_information.entries.string"));
        put(entry.get(), "value", wide_integer(s.bytes + at + 5, size - 5));
        if (PyList_Append(entries.get(), entry.get()) < 0) throw PyError();
        at += size;
    }
    return entries.release();
}

inline constexpr Row ADDITIONAL_INFORMATION_FIELDS[] = {
    integer("number_of_additional_information_entries", "Number of Additional Information entries", 0x04, 1),
    custom("entries", "Additional Information Entries", 0x04, 1, additional_information_entries, Shape::Records),
};
inline constexpr TypeRows ADDITIONAL_INFORMATION_ROWS = rows(ADDITIONAL_INFORMATION_FIELDS);

}  // namespace brantel::inventory::decoded
