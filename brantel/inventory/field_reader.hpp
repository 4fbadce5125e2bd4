// The one reader of structure fields: applies the length rule, reads integers,
// resolves string numbers (strict UTF-8) and turns values into text items.
#pragma once

#include <cstddef>
#include <cstdint>

#include "record_layouts.hpp"
#include "structure_table.hpp"
#include "text_out.hpp"

namespace brantel::inventory {

// A field's value as read; text points into the table.
struct Value {
    enum class Kind : std::uint8_t { None, Integer, Text, Hex, HandleList };
    Kind kind = Kind::None;
    std::uint32_t integer = 0;
    const std::uint8_t* bytes = nullptr;  // Text, Hex and HandleList
    std::size_t size = 0;                 // in bytes
};

// Whether the structure is long enough for the field (its guard moved by
// `shift` for fields placed after the chassis contained elements).
inline bool is_read(const Structure& s, const Field& f, std::size_t shift = 0) noexcept {
    const std::size_t guard = f.guard + (f.placement == Placement::AfterContainedElements ? shift : 0);
    return s.length >= guard;
}

// The unsigned little-endian integer of `width` bytes at `offset` of the
// formatted area (which the caller knows to be long enough).
inline std::uint32_t read_integer(const Structure& s, std::size_t offset, std::size_t width) noexcept {
    std::uint32_t value = 0;
    for (std::size_t k = width; k-- > 0;) value = (value << 8) | s.bytes[offset + k];
    return value;
}

// The text of string number `number` (not 0) of the structure. A number past
// the string list, or a string that is not strict UTF-8, throws a WalkError
// naming `line`.
Value resolve_string(const Structure& s, std::uint8_t number, int line);

// The field's value: None when the structure is too short for it or its string
// number is 0; a handle list is empty (never None) below its guard.
inline Value read_field(const Structure& s, const Field& f, int line, std::size_t shift = 0) {
    Value value;
    switch (f.source) {
        case Source::Handle:
            value.kind = Value::Kind::Integer;
            value.integer = s.handle;
            return value;
        case Source::HandleList:
            // Whole handles only: an odd byte at the end of the formatted area is left out.
            value.kind = Value::Kind::HandleList;
            value.bytes = s.bytes + f.offset;
            value.size = is_read(s, f) ? (s.length - f.offset) / 2 * 2 : 0;
            return value;
        case Source::Absent:
            return value;
        default:
            break;
    }
    if (!is_read(s, f, shift)) return value;
    const std::size_t offset = f.offset + (f.placement == Placement::AfterContainedElements ? shift : 0);
    switch (f.source) {
        case Source::Integer:
            value.kind = Value::Kind::Integer;
            value.integer = read_integer(s, offset, f.width);
            break;
        case Source::String:
            if (s.bytes[offset] != 0) return resolve_string(s, s.bytes[offset], line);
            break;
        case Source::Hex:
            value.kind = Value::Kind::Hex;
            value.bytes = s.bytes + offset;
            value.size = f.width;
            break;
        default:
            break;
    }
    return value;
}

// Appends the value's text item: decimal, the text as it stands, hexadecimal,
// "None", or for a handle list U+0004 before each handle (U+0004 alone when empty).
inline void append_item(TextBuffer& out, const Value& value) {
    switch (value.kind) {
        case Value::Kind::None:
            out.room(NONE_SIZE);
            out.put_none();
            break;
        case Value::Kind::Integer:
            out.room(MAX_DECIMAL_SIZE);
            out.put_decimal(value.integer);
            break;
        case Value::Kind::Text:
            out.room(value.size);
            out.put(reinterpret_cast<const char*>(value.bytes), value.size);
            break;
        case Value::Kind::Hex:
            out.room(2 * value.size);
            out.put_hex(value.bytes, value.size);
            break;
        case Value::Kind::HandleList:
            out.room(1 + value.size / 2 * 6);
            if (value.size == 0) out.put(ELEMENT_SEPARATOR);
            for (std::size_t k = 0; k < value.size; k += 2) {
                out.put(ELEMENT_SEPARATOR);
                out.put_decimal(value.bytes[k] | value.bytes[k + 1] << 8);
            }
            break;
    }
}

// Appends a record text form: the type id, then U+0002 and the item of every
// rendered field.
inline void append_record(TextBuffer& out, const RecordLayout& layout, const Structure& s, std::size_t shift = 0) {
    out.room(4);
    out.put_decimal(layout.type_id);
    for (std::size_t k = 0; k < layout.rendered; ++k) {
        const Value value = read_field(s, layout.fields[k], layout.first_line + static_cast<int>(k), shift);
        out.room(1);
        out.put(ITEM_SEPARATOR);
        append_item(out, value);
    }
}

}  // namespace brantel::inventory
