// The walk of the decoded inventory and the one engine that turns a structure
// into a record by its type's rows.
#include "decoder.hpp"

#include <cstring>
#include <iterator>
#include <new>
#include <vector>

#include "../toolkit/compat.hpp"
#include "../toolkit/errors.hpp"
#include "../toolkit/refs.hpp"
#include "decoded_probe.hpp"
#include "decoded_totals.hpp"
#include "decoded_types.hpp"
#include "decoded_values.hpp"
#include "structure_table.hpp"

namespace brantel::inventory::decoded {
namespace {

// --- keys of the document outside the type rows, interned once at load ---

#define DOCUMENT_KEYS(X)                                                                                      \
    X(source) X(kind) X(path) X(blob) X(smbios_version) X(warnings) X(totals) X(other_structures) X(inactive) \
        X(end_of_table) X(type) X(handle) X(length) X(data) X(strings)

enum KeyId {
#define KEY_ENUM(name) K_##name,
    DOCUMENT_KEYS(KEY_ENUM)
#undef KEY_ENUM
        KEY_COUNT
};
const char* const KEY_TEXT[] = {
#define KEY_TEXT_ENTRY(name) #name,
    DOCUMENT_KEYS(KEY_TEXT_ENTRY)
#undef KEY_TEXT_ENTRY
};
PyObject* keys[KEY_COUNT];

// --- the rows of each type, ready to read: interned keys and names, and a
// template record holding every key in order with None (copying a finished
// key table is cheaper than growing a dict key by key) ---

// When a row's value must be read again for a record copied from the last one
// of its type (Decoder::record): a scalar when its bytes differ, a string when
// its number or the strings differ, a custom value when anything differs, and
// lists always (two records never share one).
enum class Refresh : std::uint8_t { Scalar, String, Custom, Always };

struct PreparedRows {
    const Row* rows = nullptr;
    std::size_t count = 0;
    std::vector<PyObject*> keys;
    std::vector<const std::vector<PyObject*>*> names;
    // What the walk looks at of each row, packed (a row is 144 bytes, this 8):
    // the rows of a type are scanned for every record.
    struct Plan {
        std::uint8_t offset, width, guard, ext_offset, ext_width;
        Refresh refresh;
        bool shifted;
        Kind kind;
    };
    std::vector<Plan> plans;
    std::vector<std::size_t> unlike_scalars;  // the rows whose refresh is not Scalar
    PyObject* record = nullptr;
};

Refresh refresh_of(const Row& row) {
    if (row.kind == Kind::Bits || row.kind == Kind::StringList) return Refresh::Always;
    if (row.kind == Kind::Custom && row.shape != Shape::Int && row.shape != Shape::Text &&
        row.shape != Shape::Bool && row.shape != Shape::Enum)
        return Refresh::Always;
    if (row.kind == Kind::String) return Refresh::String;
    if (row.kind == Kind::Custom) return Refresh::Custom;
    return Refresh::Scalar;
}

struct PreparedType {
    const TypeEntry* entry = nullptr;
    PyObject* key = nullptr;
    PreparedRows fields;
    PreparedRows items;
    PyObject* items_key = nullptr;
};

PreparedType prepared[LAST_DEFINED_TYPE + 1];
PreparedType probe;  // _probe(): one row of every kind, read from type 200
PyObject* generic_record = nullptr;

PyObject* intern(const char* text) { return check(PyUnicode_InternFromString(text)); }

void prepare_rows(PreparedRows& out, const Row* rows, std::size_t count, bool with_handle, PyObject* items_key) {
    out.rows = rows;
    out.count = count;
    out.record = check(PyDict_New());
    if (with_handle) check_status(PyDict_SetItem(out.record, keys[K_handle], Py_None));
    for (std::size_t k = 0; k < count; ++k) {
        out.keys.push_back(intern(rows[k].key));
        const std::vector<PyObject*>* names = nullptr;
        if (rows[k].names != nullptr && (names = intern_names(*rows[k].names)) == nullptr) throw PyError();
        out.names.push_back(names);
        const Row& row = rows[k];
        out.plans.push_back(PreparedRows::Plan{row.offset, row.width, row.guard, row.ext_offset, row.ext_width,
                                               refresh_of(row), row.shifted, row.kind});
        if (out.plans.back().refresh != Refresh::Scalar) out.unlike_scalars.push_back(k);
        check_status(PyDict_SetItem(out.record, out.keys.back(), Py_None));
    }
    if (items_key != nullptr) check_status(PyDict_SetItem(out.record, items_key, Py_None));
}

void prepare_type(PreparedType& type, const TypeEntry& entry) {
    if (type.entry != nullptr) return;
    type.key = intern(entry.key);
    const TypeRows& rows = *entry.rows;
    if (rows.rows != nullptr) {
        const Items* items = rows.items;
        if (items != nullptr && items->key != nullptr) {
            type.items_key = intern(items->key);
            prepare_rows(type.items, items->rows, items->count, false, nullptr);
        }
        prepare_rows(type.fields, rows.rows, rows.count, true, type.items_key);
    }
    type.entry = &entry;
}

void prepare() {
    for (int k = 0; k < KEY_COUNT; ++k)
        if (keys[k] == nullptr) keys[k] = intern(KEY_TEXT[k]);
    if (generic_record == nullptr) {
        generic_record = check(PyDict_New());
        for (KeyId id : {K_type, K_handle, K_length, K_data, K_strings})
            check_status(PyDict_SetItem(generic_record, keys[id], Py_None));
    }
    for (const TypeEntry* entry = registry_begin(); entry != registry_end(); ++entry)
        prepare_type(prepared[entry->type], *entry);
    prepare_type(probe, PROBE_ENTRY);
}

// --- the decoder ---

OwnedRef new_list() { return OwnedRef::checked(PyList_New(0)); }

void append(PyObject* list, PyObject* item) { check_status(PyList_Append(list, item)); }

// Stores a new reference under a borrowed key, None left to the template.
void fill(PyObject* record, PyObject* key, PyObject* value) {
    if (value == Py_None) {
        Py_DECREF(value);
        return;
    }
    OwnedRef owned = OwnedRef::checked(value);
    check_status(PyDict_SetItem(record, key, owned.get()));
}

bool all_zero(const std::uint8_t* bytes, std::size_t size) noexcept {
    for (std::size_t k = 0; k < size; ++k)
        if (bytes[k] != 0) return false;
    return true;
}

class Decoder {
public:
    Decoder(std::uint8_t major, std::uint8_t minor, bool with_probe, const TypeSet* only)
        : warnings_(new_list()), reader_(major, minor, warnings_.get()), with_probe_(with_probe), only_(only) {}

    PyObject* decode(std::uint8_t major, std::uint8_t minor, const std::uint8_t* table, std::size_t size);

private:
    void walk(const std::uint8_t* table, std::size_t size);
    void place(const Structure& s);
    PyObject* record(const PreparedType& type, const Structure& s);
    void read_rows(PyObject* record, const PreparedRows& rows, const Structure& s, std::size_t base,
                   std::size_t limit, std::size_t shift);
    PyObject* item_list(const PreparedType& type, const Structure& s);
    PyObject* generic(const Structure& s);

    OwnedRef warnings_;
    Reader reader_;
    OwnedRef lists_[LAST_DEFINED_TYPE + 1];
    OwnedRef other_, inactive_, end_of_table_;
    Totals totals_;
    bool with_probe_;
    const TypeSet* only_;
    OwnedRef probes_;

public:
    // The last record of each type and what it was read from: a structure
    // that repeats it (tables hold rows of identical processors, caches and
    // memory devices) starts from a copy of it, see record().
    struct Previous {
        PyObject* record = nullptr;  // borrowed: its list holds it
        const std::uint8_t* bytes = nullptr;
        std::uint8_t length = 0;
        const std::uint8_t* set = nullptr;
        std::size_t set_size = 0;
        std::size_t shift = 0;
    };

private:
    Previous previous_[LAST_DEFINED_TYPE + 1];
    PyObject* repeat(const PreparedType& type, const Structure& s, const Previous& previous, std::size_t shift);
};

// The items of a type's item rule: the count byte (or as many as fit), the size byte (or fixed size).
struct ItemGeometry {
    std::size_t count = 0, size = 0;
};

ItemGeometry geometry(const Items& items, const Structure& s) {
    ItemGeometry g;
    g.size = items.size_at != 0 ? (s.length > items.size_at ? s.bytes[items.size_at] : 0) : items.size;
    if (items.count_at != 0)
        g.count = s.length > items.count_at ? s.bytes[items.count_at] : 0;
    else if (g.size != 0 && s.length > items.first)
        g.count = (s.length - items.first) / g.size;
    return g;
}

// Reads every row whose guard the structure meets: `base` moves the rows (an
// item's offset), `limit` is the length available to them, `shift` moves the
// rows placed after the items.
void Decoder::read_rows(PyObject* record, const PreparedRows& rows, const Structure& s, std::size_t base,
                        std::size_t limit, std::size_t shift) {
    for (std::size_t k = 0; k < rows.count; ++k) {
        const PreparedRows::Plan& plan = rows.plans[k];
        const std::size_t moved = base + (plan.shifted ? shift : 0);
        if (moved + plan.guard > limit) continue;
        fill(record, rows.keys[k], reader_.value(s, rows.rows[k], rows.names[k], moved + plan.offset));
    }
}

PyObject* Decoder::item_list(const PreparedType& type, const Structure& s) {
    const Items& items = *type.entry->rows->items;
    const ItemGeometry g = geometry(items, s);
    OwnedRef list = new_list();
    for (std::size_t k = 0; k < g.count && g.size != 0; ++k) {
        const std::size_t base = items.first + k * g.size;
        if (base + g.size > s.length) break;
        OwnedRef item = OwnedRef::checked(PyDict_Copy(type.items.record));
        read_rows(item.get(), type.items, s, base, base + g.size, 0);
        append(list.get(), item.get());
    }
    return list.release();
}

// A row's value depends only on the structure's length, its formatted bytes
// (the handle aside), its strings and the version; a custom function's too (its
// contract). So a structure of the length and item layout of the last record of
// its type, which warned of nothing, gets a copy of that record in which only
// what differs is read again (repeat()). The record is the one a full read gives;
// tables hold rows of processors, caches and memory devices that differ in a
// handle or a locator.
PyObject* Decoder::record(const PreparedType& type, const Structure& s) {
    Previous* previous = &type == &probe ? nullptr : &previous_[type.entry->type];
    const Py_ssize_t warned = PyList_GET_SIZE(warnings_.get());
    const Items* items = type.entry->rows->items;
    std::size_t shift = 0;
    if (items != nullptr) {
        const ItemGeometry g = geometry(*items, s);
        shift = g.count * g.size;
    }
    OwnedRef record;
    if (previous != nullptr && previous->record != nullptr && previous->length == s.length &&
        previous->shift == shift) {
        record = OwnedRef::checked(repeat(type, s, *previous, shift));
    } else {
        record = OwnedRef::checked(PyDict_Copy(type.fields.record));
        fill(record.get(), keys[K_handle], integer(s.handle));
        reader_.begin(type.entry->key);
        if (type.items_key != nullptr) fill(record.get(), type.items_key, item_list(type, s));
        read_rows(record.get(), type.fields, s, 0, s.length, shift);
    }
    if (previous != nullptr) {
        if (PyList_GET_SIZE(warnings_.get()) == warned)
            *previous = Previous{record.get(), s.bytes, s.length, s.strings.set_begin(), s.strings.set_size(), shift};
        else
            previous->record = nullptr;
    }
    return record.release();
}

// Whether two structures hold the same `width` bytes at `offset` (fields are
// mostly 1-8 bytes: no call for those).
inline bool same_field(const std::uint8_t* a, const std::uint8_t* b, std::size_t offset, std::size_t width) noexcept {
    if (width > 8) return std::memcmp(a + offset, b + offset, width) == 0;
    for (std::size_t k = offset; k < offset + width; ++k)
        if (a[k] != b[k]) return false;
    return true;
}

void throw_if_error() {
    if (PyErr_Occurred()) throw PyError();
}

// Whether string `number` (not past the set, which warns) is the same text in
// the last structure as in this one.
bool same_string(const Decoder::Previous& previous, const Structure& s, std::uint8_t number) {
    if (number == 0) return true;
    const std::uint8_t* text;
    std::size_t size;
    if (number > s.strings.string_count() || !s.strings.entry(number - 1u, text, size)) return false;
    const std::uint8_t* at = previous.set;
    const std::uint8_t* const end = previous.set + previous.set_size;
    for (unsigned k = 1; k < number; ++k) {
        const void* zero = std::memchr(at, 0, static_cast<std::size_t>(end - at));
        if (zero == nullptr) return false;
        at = static_cast<const std::uint8_t*>(zero) + 1;
    }
    return static_cast<std::size_t>(end - at) > size && at[size] == 0 && std::memcmp(at, text, size) == 0;
}

PyObject* Decoder::repeat(const PreparedType& type, const Structure& s, const Previous& previous, std::size_t shift) {
    const std::uint8_t* const before = previous.bytes;
    const bool same_strings = previous.set_size == s.strings.set_size() &&
                              std::memcmp(previous.set, s.strings.set_begin(), previous.set_size) == 0;
    const bool same_bytes = std::memcmp(before, s.bytes, 2) == 0 &&
                            std::memcmp(before + 4, s.bytes + 4, s.length - 4u) == 0;
    OwnedRef record = OwnedRef::checked(PyDict_Copy(previous.record));
    check_status(PyDict_SetItem(record.get(), keys[K_handle], OwnedRef::checked(integer(s.handle)).get()));
    reader_.begin(type.entry->key);
    if (type.items_key != nullptr)
        check_status(PyDict_SetItem(record.get(), type.items_key, OwnedRef::checked(item_list(type, s)).get()));
    const PreparedRows& rows = type.fields;
    // With the same bytes every scalar is the same: only the other rows are looked at.
    const std::size_t count = same_bytes ? rows.unlike_scalars.size() : rows.count;
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t k = same_bytes ? rows.unlike_scalars[n] : n;
        const PreparedRows::Plan& plan = rows.plans[k];
        const std::size_t moved = plan.shifted ? shift : 0;
        if (moved + plan.guard > s.length) continue;  // None in the copy, as in the last record
        const std::size_t at = moved + plan.offset;
        bool same = false;
        switch (plan.refresh) {
            case Refresh::Scalar:
                same = same_field(before, s.bytes, at, plan.width) &&
                       (plan.ext_width == 0 || !holds(s, plan.ext_offset, plan.ext_width) ||
                        same_field(before, s.bytes, plan.ext_offset, plan.ext_width));
                break;
            case Refresh::String:
                same = before[at] == s.bytes[at] && (same_strings || same_string(previous, s, s.bytes[at]));
                break;
            case Refresh::Custom:
                same = same_strings && same_bytes;
                break;
            case Refresh::Always:
                // A bit list of the same bytes, a string list of the same strings: a copy
                // of the last record's list (two records never share one).
                if ((plan.kind == Kind::Bits && same_field(before, s.bytes, at, plan.width)) ||
                    (plan.kind == Kind::StringList && same_strings)) {
                    PyObject* last = PyDict_GetItemWithError(record.get(), rows.keys[k]);  // borrowed
                    if (last == nullptr) throw_if_error();
                    if (last != nullptr && PyList_CheckExact(last)) {
                        OwnedRef copy = OwnedRef::checked(PyList_GetSlice(last, 0, PyList_GET_SIZE(last)));
                        check_status(PyDict_SetItem(record.get(), rows.keys[k], copy.get()));
                        continue;
                    }
                }
                break;
        }
        if (same) continue;
        OwnedRef value = OwnedRef::checked(reader_.value(s, rows.rows[k], rows.names[k], at));
        check_status(PyDict_SetItem(record.get(), rows.keys[k], value.get()));
    }
    return record.release();
}

PyObject* Decoder::generic(const Structure& s) {
    OwnedRef record = OwnedRef::checked(PyDict_Copy(generic_record));
    fill(record.get(), keys[K_type], integer(s.type));
    fill(record.get(), keys[K_handle], integer(s.handle));
    fill(record.get(), keys[K_length], integer(s.length));
    fill(record.get(), keys[K_data], Reader::hex(s.bytes + 4, s.length - 4u));
    fill(record.get(), keys[K_strings], reader_.strings(s, false));
    return record.release();
}

void Decoder::place(const Structure& s) {
    if (only_ != nullptr && !only_->test(s.type)) return;
    if (s.type == 126 || s.type == 127) {
        OwnedRef record = OwnedRef::checked(generic(s));
        append((s.type == 126 ? inactive_ : end_of_table_).get(), record.get());
        return;
    }
    if (with_probe_ && s.type == PROBE_TYPE) {
        OwnedRef record = OwnedRef::checked(this->record(probe, s));
        append(probes_.get(), record.get());
        return;
    }
    const PreparedType* type = s.type <= LAST_DEFINED_TYPE ? &prepared[s.type] : nullptr;
    if (type == nullptr || type->fields.rows == nullptr) {
        OwnedRef record = OwnedRef::checked(generic(s));
        append(other_.get(), record.get());
        return;
    }
    if (type->entry->place == Place::Singleton) {
        // The first is the machine's; a later one is kept apart, as a peer decoder shows it.
        if (lists_[s.type]) {
            OwnedRef record = OwnedRef::checked(generic(s));
            append(other_.get(), record.get());
            return;
        }
        lists_[s.type] = OwnedRef::checked(record(*type, s));
        return;
    }
    OwnedRef record = OwnedRef::checked(this->record(*type, s));
    append(lists_[s.type].get(), record.get());
    if (type->entry->rows->tally != nullptr) type->entry->rows->tally(totals_, record.get());
}

// The walk stops where a peer decoder stops: at a header too short to be one,
// at a string set with no end, after the end-of-table structure, and after the
// most structures a table can hold.
void Decoder::walk(const std::uint8_t* table, std::size_t size) {
    StructureCursor cursor(table, size);
    Structure s;
    std::size_t offset = 0, count = 0;
    while (offset < size) {
        const std::size_t remaining = size - offset;
        if (remaining < 4) {
            // Zero padding after the last structure is no anomaly.
            if (!all_zero(table + offset, remaining))
                reader_.warn("the table ends with %zu bytes at offset %zu, too few for a structure header",
                             remaining, offset);
            return;
        }
        if (count == MAX_STRUCTURES) {
            reader_.warn("the table holds more than %zu structures, which 16-bit handles cannot name: "
                         "the walk stopped at offset %zu and its last %zu bytes were not read",
                         MAX_STRUCTURES, offset, remaining);
            return;
        }
        if (table[offset + 1] < 4) {
            reader_.warn("structure at offset %zu (type %u) has a header length of %u, shorter than 4: "
                         "the table is broken there and its last %zu bytes were not read",
                         offset, unsigned{table[offset]}, unsigned{table[offset + 1]}, remaining);
            return;
        }
        if (!cursor.read(s)) {
            reader_.warn("structure at offset %zu (type %u, handle 0x%04X) has a string set with no "
                         "end: the table is cut short there",
                         offset, unsigned{s.type}, unsigned{s.handle});
            return;
        }
        ++count;
        place(s);
        cursor.advance(s);
        offset += s.size;
        if (s.type == 127) {
            if (!all_zero(table + offset, size - offset))
                reader_.warn("%zu bytes follow the end-of-table structure at offset %zu and were not "
                             "read as structures",
                             size - offset, s.offset);
            return;
        }
    }
}

PyObject* Decoder::decode(std::uint8_t major, std::uint8_t minor, const std::uint8_t* table, std::size_t size) {
    for (const PreparedType& type : prepared)
        if (type.fields.rows != nullptr && type.entry->place == Place::List) lists_[type.entry->type] = new_list();
    other_ = new_list();
    inactive_ = new_list();
    end_of_table_ = new_list();
    probes_ = new_list();
    if (major == 2 && (minor == 31 || minor == 33))
        reader_.warn("the table announces SMBIOS 2.%u, a known firmware mistake for 2.3: read as 2.3", unsigned{minor});

    walk(table, size);

    OwnedRef result = OwnedRef::checked(PyDict_New());
    OwnedRef source = OwnedRef::checked(PyDict_New());
    check_status(PyDict_SetItem(source.get(), keys[K_kind], keys[K_blob]));
    check_status(PyDict_SetItem(source.get(), keys[K_path], Py_None));
    check_status(PyDict_SetItem(result.get(), keys[K_source], source.get()));
    const unsigned shown_minor = major == 2 && (minor == 31 || minor == 33) ? 3 : minor;
    fill(result.get(), keys[K_smbios_version], check(PyUnicode_FromFormat("%u.%u", unsigned{major}, shown_minor)));
    check_status(PyDict_SetItem(result.get(), keys[K_warnings], warnings_.get()));
    for (const PreparedType& type : prepared) {
        if (type.fields.rows == nullptr) continue;
        if (type.entry->place == Place::Singleton && !lists_[type.entry->type])
            lists_[type.entry->type] = OwnedRef::checked(PyDict_Copy(type.fields.record));  // all None
        check_status(PyDict_SetItem(result.get(), type.key, lists_[type.entry->type].get()));
    }
    check_status(PyDict_SetItem(result.get(), keys[K_other_structures], other_.get()));
    check_status(PyDict_SetItem(result.get(), keys[K_inactive], inactive_.get()));
    check_status(PyDict_SetItem(result.get(), keys[K_end_of_table], end_of_table_.get()));
    fill(result.get(), keys[K_totals], totals_dict(totals_));
    if (with_probe_) check_status(PyDict_SetItem(result.get(), probe.key, probes_.get()));
    return result.release();
}

}  // namespace

bool prepare_decoder() {
    try {
        prepare();
        return true;
    } catch (const PyError&) {
        return false;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

PyObject* decode_table(std::uint8_t major, std::uint8_t minor, const std::uint8_t* table, std::size_t size,
                       bool with_probe, const TypeSet* only) {
    try {
        // 2.31 and 2.33 are firmware mistakes for 2.3: every version rule reads 2.3.
        const std::uint8_t rule_minor = major == 2 && (minor == 31 || minor == 33) ? 3 : minor;
        compat::GcPause pause;
        Decoder decoder(major, rule_minor, with_probe, only);
        return decoder.decode(major, minor, table, size);
    } catch (const PyError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
}

}  // namespace brantel::inventory::decoded
