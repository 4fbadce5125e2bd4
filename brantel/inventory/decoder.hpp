// The decoded inventory's walk: every structure of the table, once, into its
// type's list (by the registry's rows) or the generic lists.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace brantel::inventory::decoded {

// Interns every key and name and builds the record templates; once, at load.
// False with an error set on failure.
bool prepare_decoder();

// The decoded inventory of a table announced as `major`.`minor`; with_probe:
// type 200 read by the probe rows into `probes` (decoded_probe.hpp, for tests).
// New reference, or nullptr with an error set.
PyObject* decode_table(std::uint8_t major, std::uint8_t minor, const std::uint8_t* table, std::size_t size,
                       bool with_probe = false);

// The most structures a table can hold: handles are 16-bit and 0xFFFE and
// 0xFFFF are reserved.
inline constexpr std::size_t MAX_STRUCTURES = 65534;

}  // namespace brantel::inventory::decoded
