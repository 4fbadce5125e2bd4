// Value kinds as Python objects, each implemented once; the Reader is what a
// row (and a custom function) reads a structure through during one decode.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "decoded_fields.hpp"
#include "structure_table.hpp"
#include "../toolkit/errors.hpp"
#include "../toolkit/refs.hpp"

namespace brantel::inventory::decoded {

// --- small value objects (new references) ---

inline PyObject* none() noexcept {
    Py_INCREF(Py_None);
    return Py_None;
}
inline PyObject* boolean(bool value) noexcept {
    PyObject* result = value ? Py_True : Py_False;
    Py_INCREF(result);
    return result;
}
inline PyObject* integer(std::uint64_t value) noexcept { return PyLong_FromUnsignedLongLong(value); }
// value x factor, exact past 64 bits.
PyObject* product(std::uint64_t value, std::uint64_t factor) noexcept;

// The interned name objects of a table's rows (made at load; borrowed).
// Returns the rows' objects in row order, then BIT_SLOTS more: the name of
// bit k (a row of code k < 64) or nullptr, for the bit lists; then, for a
// table whose codes are all below DENSE_LIMIT, the name of every code from 0
// to the last (nullptr for a gap), so that a lookup is one step. Or nullptr
// with an error set.
constexpr std::size_t BIT_SLOTS = 64;
constexpr std::size_t DENSE_LIMIT = 4096;
const std::vector<PyObject*>* intern_names(const NameTable& table);
// The interned name of `code` in a table interned at load (borrowed), or nullptr.
PyObject* name_object(const NameTable& table, const std::vector<PyObject*>& objects, std::uint64_t code) noexcept;

// Whether the structure's formatted area holds `width` bytes at `offset`.
inline bool holds(const Structure& s, std::size_t offset, std::size_t width) noexcept {
    return s.length >= offset + width;
}
// The unsigned little-endian integer of `width` (<= 8) bytes at `offset`.
inline std::uint64_t read_raw(const Structure& s, std::size_t offset, std::size_t width) noexcept {
    std::uint64_t value = 0;
    for (std::size_t k = width; k-- > 0;) value = (value << 8) | s.bytes[offset + k];
    return value;
}

// The text objects of one decode, by content: tables repeat the same strings
// (a vendor, a processor model, "Not Specified") once per structure, and a
// shared object costs less than a new one each time.
class TextCache {
public:
    TextCache() = default;
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;
    ~TextCache();

    // A new reference to the cached text of these bytes, or null (no error set).
    PyObject* find(const std::uint8_t* bytes, std::size_t size, std::size_t& where) const noexcept;
    // Keeps `text` (borrowed) for these bytes in the slot find() named.
    void keep(std::size_t where, const std::uint8_t* bytes, std::size_t size, PyObject* text) noexcept;

private:
    static constexpr std::size_t SLOTS = 251;
    static constexpr std::size_t MAX_SIZE = 64;
    struct Slot {
        const std::uint8_t* bytes = nullptr;
        std::size_t size = 0;
        PyObject* text = nullptr;
    };
    Slot slots_[SLOTS];
};

class Reader {
public:
    // `major`.`minor` as the version rules read it; `warnings` borrowed.
    Reader(std::uint8_t major, std::uint8_t minor, PyObject* warnings) noexcept
        : major_(major), minor_(minor), warnings_(warnings) {}

    // The record being read: its structure and the key that names its list,
    // for warnings.
    void begin(const char* record_key) noexcept { record_key_ = record_key; }

    // The value of `row` read at offset `at` of the formatted area (the row's
    // offset, moved for item rows and rows after the items), whose guard the
    // caller checked; `names`: the row's interned names. New reference; throws PyError.
    PyObject* value(const Structure& s, const Row& row, const std::vector<PyObject*>* names, std::size_t at);

    // The text of string number `number` (0: None), trimmed; a number past
    // the string set gives None and a warning naming `key`. New reference.
    PyObject* text(const Structure& s, std::uint8_t number, const char* key);
    // Every string of the set, in order (a new list). `warn`: false for the
    // strings of generic records, which are not read as text of any field
    // (vendors keep binary data there); undecodable bytes are replaced alike.
    PyObject* strings(const Structure& s, bool warn = true);
    // The name of `code` in `table` (interned at load), or None. New reference.
    PyObject* name(const NameTable& table, std::uint64_t code);
    // A 16-byte UUID in canonical form by the version's byte order; None when blank.
    PyObject* uuid(const std::uint8_t* bytes) const;
    // Lower-case hexadecimal text of the bytes.
    static PyObject* hex(const std::uint8_t* bytes, std::size_t size);

    // Where the custom row being read sits: its offset, moved inside an item or
    // after the items.
    std::size_t at() const noexcept { return at_; }

    bool version_at_least(unsigned major, unsigned minor) const noexcept {
        return major_ > major || (major_ == major && minor_ >= minor);
    }

    // Appends a warning; formatted here because the interpreter's formatter
    // has no zero-padded hexadecimal. Throws PyError.
    template <typename... Args>
    void warn(const char* format, Args... args) {
        char line[512];
        std::snprintf(line, sizeof line, format, args...);
        OwnedRef owned = OwnedRef::checked(PyUnicode_FromString(line));
        if (PyList_Append(warnings_, owned.get()) < 0) throw PyError();
    }

private:
    PyObject* decoded_text(const Structure& s, const std::uint8_t* bytes, std::size_t size, bool warn = true);
    PyObject* scaled(const Structure& s, const Row& row, std::size_t at, const std::vector<PyObject*>* names);

    std::uint8_t major_, minor_;
    PyObject* warnings_;
    const char* record_key_ = "";
    std::size_t at_ = 0;
    TextCache texts_;
};

}  // namespace brantel::inventory::decoded
