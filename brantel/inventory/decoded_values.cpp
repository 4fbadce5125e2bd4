// Value kinds as Python objects: each kind implemented once, for every row of every type.
#include "decoded_values.hpp"

#include <cstring>
#include <unordered_map>

#include "text_out.hpp"
#include "utf8.hpp"

namespace brantel::inventory::decoded {

PyObject* product(std::uint64_t value, std::uint64_t factor) noexcept {
    if (factor == 0 || value <= UINT64_MAX / factor) return integer(value * factor);
    PyObject* a = integer(value);
    PyObject* b = a == nullptr ? nullptr : integer(factor);
    PyObject* result = b == nullptr ? nullptr : PyNumber_Multiply(a, b);
    Py_XDECREF(a);
    Py_XDECREF(b);
    return result;
}

// --- name objects, interned once per table at load ---

namespace {
// Codes 0 to the last one, when the last is below DENSE_LIMIT (rows ascend).
std::size_t dense_size(const NameTable& table) noexcept {
    if (table.count == 0 || table.rows[table.count - 1].code >= DENSE_LIMIT) return 0;
    return static_cast<std::size_t>(table.rows[table.count - 1].code) + 1;
}

std::unordered_map<const CodeName*, std::vector<PyObject*>>& name_objects() {
    static auto* objects = new std::unordered_map<const CodeName*, std::vector<PyObject*>>();
    return *objects;
}
}  // namespace

const std::vector<PyObject*>* intern_names(const NameTable& table) {
    auto& objects = name_objects();
    auto found = objects.find(table.rows);
    if (found != objects.end()) return &found->second;
    const std::size_t dense = dense_size(table);
    std::vector<PyObject*> names(table.count + BIT_SLOTS + dense, nullptr);
    for (std::size_t k = 0; k < table.count; ++k) {
        names[k] = PyUnicode_InternFromString(table.rows[k].name);
        if (names[k] == nullptr) {
            for (std::size_t made = 0; made < k; ++made) Py_DECREF(names[made]);
            return nullptr;
        }
        // The two indexes borrow the rows' references.
        if (table.rows[k].code < BIT_SLOTS) names[table.count + table.rows[k].code] = names[k];
        if (table.rows[k].code < dense) names[table.count + BIT_SLOTS + table.rows[k].code] = names[k];
    }
    return &objects.emplace(table.rows, std::move(names)).first->second;
}

PyObject* name_object(const NameTable& table, const std::vector<PyObject*>& objects, std::uint64_t code) noexcept {
    const std::size_t dense = objects.size() - table.count - BIT_SLOTS;
    if (dense != 0) return code < dense ? objects[table.count + BIT_SLOTS + code] : nullptr;
    std::size_t low = 0, high = table.count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (table.rows[middle].code < code)
            low = middle + 1;
        else
            high = middle;
    }
    return low < table.count && table.rows[low].code == code ? objects[low] : nullptr;
}

// --- the text cache ---

TextCache::~TextCache() {
    for (Slot& slot : slots_) Py_XDECREF(slot.text);
}

PyObject* TextCache::find(const std::uint8_t* bytes, std::size_t size, std::size_t& where) const noexcept {
    if (size > MAX_SIZE) return nullptr;
    // The size and the first and last eight bytes choose the slot (a slot
    // shared by two texts only costs a miss): no loop over every byte.
    std::uint64_t head = 0, tail = 0;
    if (size >= 8) {
        std::memcpy(&head, bytes, 8);
        std::memcpy(&tail, bytes + size - 8, 8);
    } else {
        std::memcpy(&head, bytes, size);
    }
    const std::uint64_t mixed = (head * 0x9E3779B97F4A7C15u) ^ (tail * 0xC2B2AE3D27D4EB4Fu) ^ size;
    where = static_cast<std::size_t>((mixed ^ (mixed >> 29)) % SLOTS);
    const Slot& slot = slots_[where];
    if (slot.text == nullptr || slot.size != size || std::memcmp(slot.bytes, bytes, size) != 0) return nullptr;
    Py_INCREF(slot.text);
    return slot.text;
}

void TextCache::keep(std::size_t where, const std::uint8_t* bytes, std::size_t size, PyObject* text) noexcept {
    if (size > MAX_SIZE) return;
    Slot& slot = slots_[where];
    Py_XDECREF(slot.text);
    Py_INCREF(text);
    slot = Slot{bytes, size, text};
}

// --- the reader ---

PyObject* Reader::decoded_text(const Structure& s, const std::uint8_t* bytes, std::size_t size, bool warn) {
    while (size > 0 && bytes[size - 1] == ' ') --size;
    std::size_t slot = 0;
    if (PyObject* cached = texts_.find(bytes, size, slot)) return cached;
    bool ascii = true;
    for (std::size_t k = 0; k < size && ascii; ++k) ascii = bytes[k] < 0x80;
    if (ascii) {
        PyObject* result = check(PyUnicode_New(static_cast<Py_ssize_t>(size), 127));
        std::memcpy(PyUnicode_1BYTE_DATA(result), bytes, size);
        texts_.keep(slot, bytes, size, result);
        return result;
    }
    const char* errors = "strict";
    if (!is_strict_utf8(bytes, size)) {
        if (warn)
            this->warn("structure at offset %zu (type %u, handle 0x%04X): a string is not valid "
                       "UTF-8; undecodable bytes are shown as U+FFFD",
                       s.offset, unsigned{s.type}, unsigned{s.handle});
        errors = "replace";
    }
    return check(PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(bytes), static_cast<Py_ssize_t>(size), errors));
}

PyObject* Reader::text(const Structure& s, std::uint8_t number, const char* key) {
    if (number == 0) return none();
    const std::uint8_t* bytes;
    std::size_t size;
    // The two terminating zeros are no strings: a number past the strings
    // proper names nothing, however the set ends.
    if (number > s.strings.string_count() || !s.strings.entry(number - 1u, bytes, size)) {
        warn("structure at offset %zu (type %u, handle 0x%04X): string number %u of %s_%s "
             "is past the end of its string set",
             s.offset, unsigned{s.type}, unsigned{s.handle}, unsigned{number}, record_key_, key);
        return none();
    }
    return decoded_text(s, bytes, size);
}

PyObject* Reader::strings(const Structure& s, bool warn) {
    OwnedRef list = OwnedRef::checked(PyList_New(0));
    const std::uint8_t* at = s.strings.set_begin();
    const std::uint8_t* const end = at + s.strings.set_size();
    for (std::size_t k = s.strings.string_count(); k > 0; --k) {
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(at, 0, static_cast<std::size_t>(end - at)));
        if (zero == nullptr) break;
        OwnedRef text = OwnedRef::checked(decoded_text(s, at, static_cast<std::size_t>(zero - at), warn));
        if (PyList_Append(list.get(), text.get()) < 0) throw PyError();
        at = zero + 1;
    }
    return list.release();
}

PyObject* Reader::name(const NameTable& table, std::uint64_t code) {
    const std::vector<PyObject*>* objects = intern_names(table);
    if (objects == nullptr) throw PyError();
    PyObject* found = name_object(table, *objects, code);
    if (found == nullptr) return none();
    Py_INCREF(found);
    return found;
}

// From SMBIOS 2.6 on, the first three fields are stored little-endian; before
// that the bytes are taken as stored. All 0x00 or all 0xFF means no UUID.
PyObject* Reader::uuid(const std::uint8_t* b) const {
    bool all_zero = true, all_ff = true;
    for (int k = 0; k < 16; ++k) {
        all_zero = all_zero && b[k] == 0x00;
        all_ff = all_ff && b[k] == 0xFF;
    }
    if (all_zero || all_ff) return none();
    static constexpr int STORED[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static constexpr int SWAPPED[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    const int* order = version_at_least(2, 6) ? SWAPPED : STORED;
    char out[36];
    char* p = out;
    for (int k = 0; k < 16; ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) *p++ = '-';
        hex_digits(b + order[k], 1, p);
        p += 2;
    }
    return check(PyUnicode_FromStringAndSize(out, 36));
}

PyObject* Reader::hex(const std::uint8_t* bytes, std::size_t size) {
    // Two digits per byte from one table lookup: generic records are mostly hex.
    static const auto PAIRS = [] {
        struct Pairs {
            char text[512];
        } pairs{};
        static constexpr char DIGITS[] = "0123456789abcdef";
        for (int k = 0; k < 256; ++k) {
            pairs.text[2 * k] = DIGITS[k >> 4];
            pairs.text[2 * k + 1] = DIGITS[k & 0x0F];
        }
        return pairs;
    }();
    PyObject* result = check(PyUnicode_New(static_cast<Py_ssize_t>(2 * size), 127));
    char* out = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(result));
    for (std::size_t k = 0; k < size; ++k) std::memcpy(out + 2 * k, PAIRS.text + 2 * bytes[k], 2);
    return result;
}

namespace {
bool special(const Row& row, std::uint64_t value) noexcept {
    for (std::uint8_t k = 0; k < row.special_count; ++k)
        if (row.specials[k] == value) return true;
    return false;
}

// The names of the set bits in bit order, which is the rows' order (codes
// ascend): one step per bit up to the highest set one, and the list sized once.
PyObject* bit_names(const NameTable& table, const std::vector<PyObject*>& objects, std::uint64_t value) {
    PyObject* const* by_bit = objects.data() + table.count;
    PyObject* found[BIT_SLOTS];
    Py_ssize_t size = 0;
    for (std::size_t bit = 0; value != 0; ++bit, value >>= 1)
        if ((value & 1u) != 0 && by_bit[bit] != nullptr) found[size++] = by_bit[bit];
    PyObject* list = check(PyList_New(size));
    for (Py_ssize_t k = 0; k < size; ++k) {
        Py_INCREF(found[k]);
        PyList_SET_ITEM(list, k, found[k]);
    }
    return list;
}
}  // namespace

// The integer kinds: the value (or its extended field), masked, checked
// against the row's special values, then named, scaled or offset.
PyObject* Reader::scaled(const Structure& s, const Row& row, std::size_t at, const std::vector<PyObject*>* names) {
    const std::uint64_t raw = read_raw(s, at, row.width);
    std::uint64_t value = row.mask != 0 ? (raw & row.mask) >> row.shift : raw >> row.shift;
    std::uint64_t unit = row.coarse_bit != 0 && (raw & row.coarse_bit) ? row.coarse_unit : row.unit;
    if (row.ext_width != 0 && raw == row.ext_when) {
        if (holds(s, row.ext_offset, row.ext_width)) {
            value = read_raw(s, row.ext_offset, row.ext_width) & row.ext_mask;
            unit = row.ext_unit != 0 ? row.ext_unit : row.unit;
        } else if (row.kind == Kind::Speed) {
            return none();  // "see the extended field", and there is none
        }
    }
    if (special(row, value)) return none();
    switch (row.kind) {
        case Kind::Enum: {
            PyObject* found = names == nullptr ? nullptr : name_object(*row.names, *names, value);
            if (found == nullptr) return none();
            Py_INCREF(found);
            return found;
        }
        case Kind::Integer:
            return check(integer(value + row.add));  // add: a small offset of a masked field
        default:  // Size, Speed, Voltage
            return check(product(value, unit));
    }
}

PyObject* Reader::value(const Structure& s, const Row& row, const std::vector<PyObject*>* names, std::size_t at) {
    switch (row.kind) {
        case Kind::String:
            return text(s, s.bytes[at], row.key);
        case Kind::StringList:
            return strings(s);
        case Kind::Uuid:
            return uuid(s.bytes + at);
        case Kind::Hex:
            return hex(s.bytes + at, row.width);
        case Kind::Custom:
            at_ = at;
            return check(row.custom(*this, s, row));
        case Kind::BusAddress: {
            const std::uint64_t segment = read_raw(s, at, 2);
            const unsigned bus = s.bytes[at + 2], devfn = s.bytes[at + 3];
            if (segment == 0xFFFF && bus == 0xFF && devfn == 0xFF) return none();
            if (special(row, read_raw(s, at, 4))) return none();  // the row's other "no address" forms
            char out[16];
            std::snprintf(out, sizeof out, "%04x:%02x:%02x.%u", unsigned(segment), bus, devfn >> 3, devfn & 7u);
            return check(PyUnicode_FromString(out));
        }
        case Kind::Flag:
            return boolean((read_raw(s, at, row.width) & row.mask) != 0);
        case Kind::Bits: {
            std::uint64_t value = read_raw(s, at, row.width);
            if (row.mask != 0) value &= row.mask;
            if (names == nullptr) return check(PyList_New(0));
            return bit_names(*row.names, *names, value);
        }
        case Kind::Handle: {
            const std::uint64_t value = read_raw(s, at, 2);
            return value >= 0xFFFE ? none() : check(integer(value));
        }
        case Kind::Version: {
            const std::uint64_t raw = read_raw(s, at, row.width);
            if (special(row, raw)) return none();
            const unsigned major = row.width == 1 ? unsigned(raw >> 4) : s.bytes[at];
            const unsigned minor = row.width == 1 ? unsigned(raw & 0x0F) : s.bytes[at + 1];
            return check(PyUnicode_FromFormat("%u.%u", major, minor));
        }
        default:
            return scaled(s, row, at, names);
    }
}

}  // namespace brantel::inventory::decoded
