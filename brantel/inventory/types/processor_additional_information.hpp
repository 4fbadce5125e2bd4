// Type 44: Processor Additional Information.
#pragma once

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"
#include "../names/processor_additional.hpp"

namespace brantel::inventory::decoded {

// The processor-specific data: as many bytes from 0x08 as the block length
// (0x06) says, cut at the end of the structure.
inline PyObject* processor_specific_data(Reader& reader, const Structure& s, const Row&) {
    const std::size_t wanted = s.bytes[reader.at()], first = 0x08;
    const std::size_t held = s.length > first ? s.length - first : 0;
    return Reader::hex(s.bytes + first, wanted < held ? wanted : held);
}

inline constexpr Row PROCESSOR_ADDITIONAL_INFORMATION_FIELDS[] = {
    handle("referenced_handle", "Referenced Handle", 0x04),
    integer("block_length", "Block Length", 0x06, 1),
    enumeration("processor_type", "Processor Type", 0x07, 1, PROCESSOR_ARCHITECTURE_TYPES),
    custom("processor_specific_data", "Processor-Specific Data", 0x06, 1, processor_specific_data, Shape::Text),
};
inline constexpr TypeRows PROCESSOR_ADDITIONAL_INFORMATION_ROWS = rows(PROCESSOR_ADDITIONAL_INFORMATION_FIELDS);

}  // namespace brantel::inventory::decoded
