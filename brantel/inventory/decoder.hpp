// The decoded inventory's walk: every structure of the table, once, into its
// type's list (by the registry's rows) or the generic lists.
#pragma once

#include <Python.h>

#include <bitset>
#include <cstddef>
#include <cstdint>

namespace brantel::inventory::decoded {

// Interns every key and name and builds the record templates; once, at load.
// False with an error set on failure.
bool prepare_decoder();

// The structure types a partial decode reads.
using TypeSet = std::bitset<256>;

// The decoded inventory of a table announced as `major`.`minor`; with_probe:
// type 200 read by the probe rows into `probes` (decoded_probe.hpp, for tests);
// only: the structures of other types are passed over (left out of the lists,
// the totals and the warnings), for callers that read a few keys.
// New reference, or nullptr with an error set.
PyObject* decode_table(std::uint8_t major, std::uint8_t minor, const std::uint8_t* table, std::size_t size,
                       bool with_probe = false, const TypeSet* only = nullptr);

// The most structures a table can hold: handles are 16-bit and 0xFFFE and
// 0xFFFF are reserved.
inline constexpr std::size_t MAX_STRUCTURES = 65534;

}  // namespace brantel::inventory::decoded
