// Type 5: Memory Controller Information (obsolete since 2.1, still in old tables).
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/memory_legacy.hpp"
#include "memory_module.hpp"

namespace brantel::inventory::decoded {

// Maximum memory module size: 2^n MiB.
inline PyObject* maximum_module_size(Reader&, const Structure& s, const Row& row) {
    return power_of_two_mib(read_raw(s, row.offset, 1));
}

// The module voltages the controller supports (bits 0-2: 5 V, 3.3 V, 2.9 V), in mV.
inline PyObject* module_voltages(Reader&, const Structure& s, const Row& row) {
    static constexpr long MV[] = {5000, 3300, 2900};
    const std::uint64_t flags = read_raw(s, row.offset, 1);
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (unsigned bit = 0; bit < 3; ++bit) {
        if ((flags >> bit & 1u) == 0) continue;
        OwnedRef mv = OwnedRef::checked(PyLong_FromLong(MV[bit]));
        check_status(PyList_Append(list.get(), mv.get()));
    }
    return list.release();
}

// The handles of the controller's memory module structures: the count at
// 0x0E, then two bytes each, as many as the structure holds.
inline PyObject* module_handles(Reader&, const Structure& s, const Row& row) {
    const std::size_t count = s.bytes[0x0E];
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (std::size_t k = 0; k < count && holds(s, row.offset + 2 * k, 2); ++k) {
        OwnedRef handle = OwnedRef::checked(integer(read_raw(s, row.offset + 2 * k, 2)));
        check_status(PyList_Append(list.get(), handle.get()));
    }
    return list.release();
}

inline constexpr Row MEMORY_CONTROLLER_FIELDS[] = {
    enumeration("error_detecting_method", "Error Detecting Method", 0x04, 1, names::ERROR_DETECTING_METHODS),
    bits("error_correcting_capabilities", "Error Correcting Capability", 0x05, 1,
         names::ERROR_CORRECTING_CAPABILITIES),
    enumeration("supported_interleave", "Supported Interleave", 0x06, 1, names::INTERLEAVES),
    enumeration("current_interleave", "Current Interleave", 0x07, 1, names::INTERLEAVES),
    custom("maximum_memory_module_size_bytes", "Maximum Memory Module Size", 0x08, 1, maximum_module_size,
           Shape::Int),
    bits("supported_speeds", "Supported Speeds", 0x09, 2, names::MEMORY_SPEEDS),
    bits("supported_memory_types", "Supported Memory Types", 0x0B, 2, names::MEMORY_MODULE_TYPES),
    custom("memory_module_voltage_mv", "Memory Module Voltage", 0x0D, 1, module_voltages, Shape::IntList),
    integer("number_of_associated_memory_slots", "Number of Associated Memory Slots", 0x0E, 1),
    custom("memory_module_configuration_handles", "Memory Module Configuration Handles", 0x0F, 0, module_handles,
           Shape::IntList),
    bits("enabled_error_correcting_capabilities", "Enabled Error Correcting Capabilities", 0x0F, 1,
         names::ERROR_CORRECTING_CAPABILITIES)
        .after_items(),
};
// The enabled capabilities (2.1 on) follow the module handles.
inline constexpr Items MEMORY_CONTROLLER_HANDLES{nullptr, nullptr, 0x0F, 0x0E, 0, 2, nullptr, 0};
inline constexpr TypeRows MEMORY_CONTROLLER_ROWS = rows(MEMORY_CONTROLLER_FIELDS, &MEMORY_CONTROLLER_HANDLES);

}  // namespace brantel::inventory::decoded
