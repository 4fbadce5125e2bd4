// Readings of the voltage, temperature and current probes and the management
// device thresholds: signed words in the probe's unit, 8000h when unknown.
#pragma once

#include <cstdint>

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"

namespace brantel::inventory::decoded {

inline PyObject* probe_reading(Reader&, const Structure& s, const Row& row) {
    const std::uint64_t raw = read_raw(s, row.offset, 2);
    if (raw == 0x8000) return none();
    return PyLong_FromLong(static_cast<std::int16_t>(static_cast<std::uint16_t>(raw)));
}

constexpr Row reading(const char* key, const char* label, std::uint8_t offset) {
    return custom(key, label, offset, 2, probe_reading, Shape::SignedInt);
}

}  // namespace brantel::inventory::decoded
