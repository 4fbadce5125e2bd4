// Type 31: Boot Integrity Services (BIS) Entry Point.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"

namespace brantel::inventory::decoded {

// The checksum byte makes every byte of the formatted area sum to zero.
inline PyObject* bis_checksum_valid(Reader&, const Structure& s, const Row&) {
    unsigned sum = 0;
    for (std::size_t k = 0; k < s.length; ++k) sum += s.bytes[k];
    return boolean((sum & 0xFF) == 0);
}

inline constexpr Row BOOT_INTEGRITY_SERVICES_FIELDS[] = {
    integer("checksum", "Checksum", 0x04, 1),
    custom("checksum_valid", nullptr, 0x04, 1, bis_checksum_valid, Shape::Bool),
    integer("bis_entry_16", "BIS Entry16", 0x08, 4),  // segment in the high word, offset in the low
    integer("bis_entry_32", "BIS Entry32", 0x0C, 4),
};
inline constexpr TypeRows BOOT_INTEGRITY_SERVICES_ROWS = rows(BOOT_INTEGRITY_SERVICES_FIELDS);

}  // namespace brantel::inventory::decoded
