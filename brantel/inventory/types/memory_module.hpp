// Type 6: Memory Module Information (obsolete since 2.1, still in old tables).
#pragma once

#include <initializer_list>

#include "../decoded_fields.hpp"
#include "../decoded_totals.hpp"
#include "../decoded_values.hpp"
#include "../names/memory_legacy.hpp"

namespace brantel::inventory::decoded {

// 2^n MiB, exact for every byte n.
inline PyObject* power_of_two_mib(std::uint64_t exponent) {
    if (exponent + 20 < 64) return integer(std::uint64_t{1} << (exponent + 20));
    OwnedRef one = OwnedRef::checked(PyLong_FromLong(1));
    OwnedRef shift = OwnedRef::checked(PyLong_FromUnsignedLongLong(exponent + 20));
    return PyNumber_Lshift(one.get(), shift.get());
}

// A module size byte: bits 6:0 give 2^n MiB, or 0x7D not determinable, 0x7E
// installed but none enabled (an enabled size of 0; as an installed size it
// tells nothing: null), 0x7F not installed (0). Bit 7: double-bank.
inline PyObject* module_size_of(std::uint64_t code, bool installed) {
    const unsigned exponent = code & 0x7F;
    if (exponent == 0x7D || (exponent == 0x7E && installed)) return none();
    if (exponent >= 0x7E) return integer(0);
    return power_of_two_mib(exponent);
}
inline PyObject* installed_module_size(Reader&, const Structure& s, const Row& row) {
    return module_size_of(read_raw(s, row.offset, 1), true);
}
inline PyObject* enabled_module_size(Reader&, const Structure& s, const Row& row) {
    return module_size_of(read_raw(s, row.offset, 1), false);
}
// Double-bank (bit 7 of the installed size), unknown for a module not installed.
inline PyObject* double_bank(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t code = read_raw(s, row.offset, 1);
    return (code & 0x7F) == 0x7F ? none() : boolean((code & 0x80) != 0);
}

// The banks (RAS# lines) the socket connects to: one per nibble, 0xF none.
inline PyObject* bank_connections(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t code = read_raw(s, row.offset, 1);
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (unsigned nibble : {unsigned(code >> 4), unsigned(code & 0x0F)}) {
        if (nibble == 0x0F) continue;
        OwnedRef bank = OwnedRef::checked(integer(nibble));
        check_status(PyList_Append(list.get(), bank.get()));
    }
    return list.release();
}

inline constexpr Row MEMORY_MODULE_FIELDS[] = {
    string("socket", "Socket Designation", 0x04),
    custom("installed_size_bytes", "Installed Size", 0x09, 1, installed_module_size, Shape::Int),
    custom("enabled_size_bytes", "Enabled Size", 0x0A, 1, enabled_module_size, Shape::Int),
    custom("double_bank", "Installed Size", 0x09, 1, double_bank, Shape::Bool),
    custom("bank_connections", "Bank Connections", 0x05, 1, bank_connections, Shape::IntList),
    integer("current_speed_ns", "Current Speed", 0x06, 1).unknown(0),
    bits("current_memory_type", "Current Memory Type", 0x07, 2, names::MEMORY_MODULE_TYPES),
    bits("error_status", "Error Status", 0x0B, 1, names::MEMORY_MODULE_ERROR_STATUSES),
};
inline constexpr TypeRows MEMORY_MODULE_ROWS = rows(MEMORY_MODULE_FIELDS, nullptr, tally_memory_module);

}  // namespace brantel::inventory::decoded
