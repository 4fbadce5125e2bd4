// The totals of the decoded inventory: sums over the finished records, fed by
// the tally function of each type that contributes (rows(..., tally)).
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "../toolkit/refs.hpp"

namespace brantel::inventory::decoded {

// An unbounded sum of byte counts: a 64-bit part, carried into a Python int
// when it would overflow (a crafted table can hold sizes past 2^64 in total).
class ByteSum {
public:
    void add(std::uint64_t value);
    // Adds a Python int (borrowed); None adds nothing.
    void add(PyObject* value);
    PyObject* result();  // new reference; throws PyError

private:
    void carry();
    std::uint64_t low_ = 0;
    OwnedRef high_;
};

struct Totals {
    std::size_t processor_sockets = 0, processors_populated = 0, processors_enabled = 0;
    ByteSum memory_bytes, memory_modules_bytes;
    std::size_t memory_modules = 0;
    // Memory arrays used as system memory (handles) and their capacity, the
    // handles of the other arrays; every memory device's array handle (-1:
    // none) and whether it holds memory.
    std::vector<long> system_memory_arrays, other_memory_arrays;
    ByteSum memory_capacity_bytes;
    bool memory_capacity_known = false;
    std::vector<std::pair<long, bool>> memory_slots;
};

// The tally functions of the types that feed the totals (record: borrowed dict).
void tally_processor(Totals& totals, PyObject* record);
void tally_memory_module(Totals& totals, PyObject* record);
void tally_memory_device(Totals& totals, PyObject* record);
void tally_physical_memory_array(Totals& totals, PyObject* record);

// The totals dict of the document. New reference; throws PyError.
PyObject* totals_dict(Totals& totals);

}  // namespace brantel::inventory::decoded
