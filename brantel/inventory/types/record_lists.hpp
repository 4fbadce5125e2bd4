// Helpers of the custom rows that build lists of small records or handles
// (types 11-13, 40, 42 and 45): every count is bounded by what the structure holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../decoded_fields.hpp"
#include "../decoded_values.hpp"

namespace brantel::inventory::decoded {

// Sets `key` of `record` to a new reference `value`; throws PyError.
inline void put(PyObject* record, const char* key, PyObject* value) {
    OwnedRef owned = OwnedRef::checked(value);
    if (PyDict_SetItemString(record, key, owned.get()) < 0) throw PyError();
}

inline void append(PyObject* list, PyObject* value) {
    OwnedRef owned = OwnedRef::checked(value);
    if (PyList_Append(list, owned.get()) < 0) throw PyError();
}

// The unsigned little-endian integer of `size` bytes (any size), or None for none.
inline PyObject* wide_integer(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return none();
    if (size <= 8) {
        std::uint64_t value = 0;
        for (std::size_t k = size; k-- > 0;) value = (value << 8) | bytes[k];
        return integer(value);
    }
    static const char digits[] = "0123456789abcdef";
    char text[2 * 256 + 1];
    std::size_t out = 0;
    for (std::size_t k = size; k-- > 0 && out + 2 < sizeof text;) {
        text[out++] = digits[bytes[k] >> 4];
        text[out++] = digits[bytes[k] & 0x0F];
    }
    text[out] = '\0';
    return PyLong_FromString(text, nullptr, 16);
}

// `count` 16-bit handles from `first`, as many as the length holds.
inline PyObject* handle_list(const Structure& s, std::size_t first, std::size_t count) {
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    for (std::size_t k = 0; k < count && holds(s, first + 2 * k, 2); ++k)
        append(list.get(), integer(read_raw(s, first + 2 * k, 2)));
    return list.release();
}

// The first n strings of the set, n being the count byte at the row's offset
// (OEM strings, configuration options, installable languages): strings past
// the count are no part of the list; fewer than the count, a warning.
inline PyObject* counted_strings(Reader& reader, const Structure& s, const Row& row) {
    OwnedRef all = OwnedRef::checked(reader.strings(s));
    const Py_ssize_t count = s.bytes[row.offset], found = PyList_GET_SIZE(all.get());
    if (found < count)
        reader.warn("structure at offset %zu (type %u, handle 0x%04X): %s announces %d strings, the string set "
                    "holds %d",
                    s.offset, unsigned{s.type}, unsigned{s.handle}, row.key, int(count), int(found));
    if (found <= count) return all.release();
    return PyList_GetSlice(all.get(), 0, count);
}

}  // namespace brantel::inventory::decoded
