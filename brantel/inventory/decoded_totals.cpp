// The totals of the decoded inventory, summed from the finished records.
#include "decoded_totals.hpp"

#include <algorithm>

#include "../toolkit/errors.hpp"
#include "names/memory.hpp"

namespace brantel::inventory::decoded {

void ByteSum::add(std::uint64_t value) {
    if (low_ + value < low_) carry();
    low_ += value;
}

void ByteSum::add(PyObject* value) {
    if (value == nullptr || value == Py_None) return;
    const unsigned long long small = PyLong_AsUnsignedLongLong(value);
    if (!(small == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
        add(static_cast<std::uint64_t>(small));
        return;
    }
    PyErr_Clear();
    carry();
    high_ = high_ ? OwnedRef::checked(PyNumber_Add(high_.get(), value)) : OwnedRef::borrow(value);
}

PyObject* ByteSum::result() {
    carry();
    if (!high_) return check(PyLong_FromLong(0));
    return OwnedRef::borrow(high_.get()).release();
}

void ByteSum::carry() {
    if (low_ == 0) return;
    OwnedRef low = OwnedRef::checked(PyLong_FromUnsignedLongLong(low_));
    high_ = high_ ? OwnedRef::checked(PyNumber_Add(high_.get(), low.get())) : std::move(low);
    low_ = 0;
}

namespace {
// A key of the records the totals read, interned on first use and kept for
// the process; one per call site (a tally runs for every record).
class Key {
public:
    explicit constexpr Key(const char* text) noexcept : text_(text) {}
    PyObject* get() {
        if (object_ == nullptr) object_ = PyUnicode_InternFromString(text_);
        if (object_ == nullptr) throw PyError();
        return object_;
    }

private:
    const char* text_;
    PyObject* object_ = nullptr;
};

// record[key], borrowed (None when absent).
PyObject* field(PyObject* record, Key& key) {
    PyObject* value = PyDict_GetItemWithError(record, key.get());
    if (value == nullptr && PyErr_Occurred()) throw PyError();
    return value == nullptr ? Py_None : value;
}

Key POPULATED("populated"), STATUS("status"), ENABLED_SIZE_BYTES("enabled_size_bytes"), SIZE_BYTES("size_bytes"),
    ARRAY_HANDLE("array_handle"), USE("use"), HANDLE("handle"), MAXIMUM_CAPACITY_BYTES("maximum_capacity_bytes");

// A handle of a record as a number, -1 when null.
long handle_of(PyObject* value) {
    if (value == Py_None) return -1;
    const long handle = PyLong_AsLong(value);
    if (handle == -1 && PyErr_Occurred()) throw PyError();
    return handle;
}
}  // namespace

void tally_processor(Totals& totals, PyObject* record) {
    ++totals.processor_sockets;
    if (field(record, POPULATED) != Py_True) return;
    ++totals.processors_populated;
    PyObject* status = field(record, STATUS);
    if (status != Py_None && PyUnicode_CompareWithASCIIString(status, "Enabled") == 0) ++totals.processors_enabled;
}

void tally_memory_module(Totals& totals, PyObject* record) {
    ++totals.memory_modules;
    totals.memory_modules_bytes.add(field(record, ENABLED_SIZE_BYTES));
}

void tally_memory_device(Totals& totals, PyObject* record) {
    PyObject* size = field(record, SIZE_BYTES);
    totals.memory_bytes.add(size);
    const int empty = size == Py_None ? 1 : PyObject_Not(size);
    if (empty < 0) throw PyError();
    totals.memory_slots.emplace_back(handle_of(field(record, ARRAY_HANDLE)), empty == 0);
}

void tally_physical_memory_array(Totals& totals, PyObject* record) {
    static const char* const system_memory =
        name_of_code(names::MEMORY_ARRAY_USES, names::MEMORY_ARRAY_USE_SYSTEM_MEMORY);
    PyObject* use = field(record, USE);
    if (use == Py_None || PyUnicode_CompareWithASCIIString(use, system_memory) != 0) {
        totals.other_memory_arrays.push_back(handle_of(field(record, HANDLE)));
        return;
    }
    totals.system_memory_arrays.push_back(handle_of(field(record, HANDLE)));
    PyObject* capacity = field(record, MAXIMUM_CAPACITY_BYTES);
    if (capacity == Py_None) return;
    totals.memory_capacity_bytes.add(capacity);
    totals.memory_capacity_known = true;
}

PyObject* totals_dict(Totals& totals) {
    OwnedRef result = OwnedRef::checked(PyDict_New());
    auto put = [&](const char* key, PyObject* value) {
        OwnedRef owned = OwnedRef::checked(value);
        check_status(PyDict_SetItemString(result.get(), key, owned.get()));
    };
    put("processor_sockets", PyLong_FromSize_t(totals.processor_sockets));
    put("processors_populated", PyLong_FromSize_t(totals.processors_populated));
    put("processors_enabled", PyLong_FromSize_t(totals.processors_enabled));
    put("memory_bytes", totals.memory_bytes.result());
    if (totals.memory_modules > 0) {
        put("memory_modules_bytes", totals.memory_modules_bytes.result());
    } else {
        Py_INCREF(Py_None);
        put("memory_modules_bytes", Py_None);
    }
    // Slots: the memory devices of the arrays used as system memory; null
    // when the table has no such array.
    if (totals.system_memory_arrays.empty()) {
        for (const char* key : {"memory_capacity_bytes", "memory_slots", "memory_slots_populated"}) {
            Py_INCREF(Py_None);
            put(key, Py_None);
        }
        return result.release();
    }
    // A device whose array handle names no array at all (some hypervisors'
    // tables point every device at another structure) is still a slot of the
    // system's memory; one that belongs to a video or flash array is not.
    auto& others = totals.other_memory_arrays;
    std::sort(others.begin(), others.end());
    std::size_t slots = 0, populated = 0;
    for (const auto& slot : totals.memory_slots) {
        if (slot.first < 0 || std::binary_search(others.begin(), others.end(), slot.first)) continue;
        ++slots;
        if (slot.second) ++populated;
    }
    if (totals.memory_capacity_known) {
        put("memory_capacity_bytes", totals.memory_capacity_bytes.result());
    } else {
        Py_INCREF(Py_None);
        put("memory_capacity_bytes", Py_None);
    }
    put("memory_slots", PyLong_FromSize_t(slots));
    put("memory_slots_populated", PyLong_FromSize_t(populated));
    return result.release();
}

}  // namespace brantel::inventory::decoded
